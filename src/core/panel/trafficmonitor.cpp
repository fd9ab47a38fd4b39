#include "core/panel/trafficmonitor.h"

#include "core/panel/commandsender.h"
#include "core/panel/paneldisplays.h"
#include "core/panel/serialcontrol.h"
#include "core/protocol/holdbuttons.h"
#include "core/protocol/statusdecoder.h"

TrafficMonitor::TrafficMonitor(Clock &clock, SerialControl &comm, PanelDisplays &displays,
                               const CommandSender &sent)
    : m_comm(comm),
      m_displays(displays),
      m_sent(sent),
      m_replyTimeout(clock, kNormalReplyTimeoutMs),
      m_displayTimeout(clock, kNormalDisplayTimeoutMs)
{
    m_replyTimeout.setOnTick([this] { Timer2_Timer(); });
    m_displayTimeout.setOnTick([this] { Timer4_Timer(); });
}

void TrafficMonitor::Hyouji(const std::string &text, Mode mode)
{
    if (mode == Mode::Send)
        return send(text);
    showReceived(text);
}

void TrafficMonitor::send(const std::string &frame)
{
    // The frame goes onto the line before any display changes.
    const bool portClosed = !m_comm.portOpen();
    // A frame an open port drops shows nowhere on the line: the count is where the operator
    // looks for what was sent. A closed port brings up the port choice instead, which is the
    // owner's to show.
    if (!m_comm.output(frame) && !portClosed) {
        ++m_droppedFrames;
        m_displays.setTxdToolTip(std::to_string(m_droppedFrames) +
                                 (m_droppedFrames == 1 ? " frame" : " frames") +
                                 " dropped: the line was busy");
    }
    m_displays.setTxd(renderTraffic(frame));
    m_replyTimeout.setEnabled(true);
    m_awaitingReply = 1;
    m_displayTimeout.setEnabled(true);
}

void TrafficMonitor::showReceived(std::string_view added)
{
    // Unasked text can fill the buffer to its bound, some 98,000 rendered characters: a receive
    // event adds its own part to what the display shows, and shows the whole only after the
    // display showed something else.
    const std::string &rendering = m_rxBuffer.rendering();
    if (!m_rxdShowsBuffer) {
        m_displays.setRxd(rendering);
        m_rxdShowsBuffer = true;
    } else if (!added.empty()) {
        m_displays.appendRxd(added);
    }
    if (auto status = decodeStatus(rendering, m_sent.lastCommand(), m_sent.idPrefix()))
        m_displays.setStatus(*status);
}

void TrafficMonitor::MSComm1_OnComm(std::string_view bytes)
{
    const std::string added(m_rxBuffer.append(bytes));
    m_awaitingReply = 0;
    Hyouji(added, Mode::Receive);
}

void TrafficMonitor::emptyRxBuffer()
{
    m_rxBuffer.clear();
    m_rxdShowsBuffer = false;
}

void TrafficMonitor::setRxd(std::string_view text)
{
    m_displays.setRxd(text);
    m_rxdShowsBuffer = false;
}

void TrafficMonitor::Timer2_Timer()
{
    if (m_awaitingReply == 1)
        setRxd(kTimeoutMark);
    m_replyTimeout.setEnabled(false);
    emptyRxBuffer();
    m_awaitingReply = 0;
}

void TrafficMonitor::Timer4_Timer()
{
    m_displays.setTxd("");
    setRxd("");
    m_displays.setStatus("");
    m_displayTimeout.setEnabled(false);
}

void TrafficMonitor::reset()
{
    m_awaitingReply = 0;
    emptyRxBuffer();
}

void TrafficMonitor::setTimeouts(int replyTimeoutMs, int displayTimeoutMs)
{
    m_replyTimeout.setInterval(replyTimeoutMs);
    m_displayTimeout.setInterval(displayTimeoutMs);
}

void TrafficMonitor::endHold()
{
    m_replyTimeout.setEnabled(false);
    m_displayTimeout.setEnabled(true);
    m_displays.setTxd("");
    setRxd("");
    m_replyTimeout.setInterval(kNormalReplyTimeoutMs);
    m_displayTimeout.setInterval(kNormalDisplayTimeoutMs);
    emptyRxBuffer();
}

void TrafficMonitor::stop()
{
    m_replyTimeout.setEnabled(false);
    m_displayTimeout.setEnabled(false);
}
