#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/panel/intervaltimer.h"
#include "core/protocol/rendering.h"

class Clock;
class CommandSender;
class PanelDisplays;
class SerialControl;

// Every frame sent and every text received passes through Hyouji: it writes frames to the
// line, shows the traffic spelled out in the TXD and RXD displays and decodes status replies.
// It owns what the traffic shows and how long: the reply time-out (Timer2), the display
// time-out (Timer4), awaitingReply and rxBuffer.
class TrafficMonitor {
public:
    // Send mode writes the text to the line and shows it in the TXD display. Receive mode shows
    // the rendering of rxBuffer in the RXD display and decodes it; the text is what a receive
    // event has just added to that rendering.
    enum class Mode : unsigned char { Send = 1, Receive = 2 };

    static constexpr std::string_view kTimeoutMark = " X X X X";

    // sent: where the frame last sent and the address in force are read, for decoding.
    TrafficMonitor(Clock &clock, SerialControl &comm, PanelDisplays &displays,
                   const CommandSender &sent);

    void Hyouji(const std::string &text, Mode mode);

    // The receive handler: bytes from the line.
    void MSComm1_OnComm(std::string_view bytes);
    void Timer2_Timer();
    void Timer4_Timer();

    // Start-up: nothing awaited, nothing received.
    void reset();

    // A hold button's short time-outs, and the release steps that end a hold: the reply
    // time-out stops, the display time-out starts, TXD and RXD are blanked, the time-outs
    // return to their normal lengths and what was received is dropped.
    void setTimeouts(int replyTimeoutMs, int displayTimeoutMs);
    void endHold();

    // Nothing runs any more.
    void stop();

    std::uint8_t awaitingReply() const { return m_awaitingReply; }
    // Frames the open port could not take (its output buffer full), since the panel started.
    std::uint64_t droppedFrames() const { return m_droppedFrames; }
    const std::string &rxBuffer() const { return m_rxBuffer.text(); }
    const IntervalTimer &replyTimeout() const { return m_replyTimeout; }
    const IntervalTimer &displayTimeout() const { return m_displayTimeout; }

private:
    void send(const std::string &frame);
    void showReceived(std::string_view added);
    void emptyRxBuffer();
    void setRxd(std::string_view text);

    SerialControl &m_comm;
    PanelDisplays &m_displays;
    const CommandSender &m_sent;
    IntervalTimer m_replyTimeout;    // Timer2
    IntervalTimer m_displayTimeout;  // Timer4
    std::uint8_t m_awaitingReply = 0;
    std::uint64_t m_droppedFrames = 0;
    ReceiveBuffer m_rxBuffer;
    // The RXD display shows the rendering of all of rxBuffer, so that what is received next is
    // added to its end rather than the whole shown again.
    bool m_rxdShowsBuffer = false;
};
