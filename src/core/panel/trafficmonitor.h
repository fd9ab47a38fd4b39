#pragma once

#include <string>

#include "core/panel/paneldisplays.h"
#include "core/panel/panelstate.h"
#include "core/protocol/rendering.h"

class IntervalTimer;
class SerialControl;

// Every frame sent and every text received passes through Hyouji: it writes frames to the
// line, shows the traffic spelled out in the TXD and RXD displays, decodes status replies, and
// runs the reply, display and COM-settings time-outs.
class TrafficMonitor {
public:
    static constexpr unsigned char kSendMode = 1;
    static constexpr unsigned char kReceiveMode = 2;

    TrafficMonitor(PanelState &state, SerialControl &comm, PanelDisplays &displays,
                   IntervalTimer &timer2, IntervalTimer &timer3, IntervalTimer &timer4);

    // mode 1 sends text and shows it in the TXD display; any other mode shows it in the RXD
    // display and decodes it.
    void Hyouji(const std::string &text, unsigned char mode);
    void MSComm1_OnComm();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();

    // Brings the COM settings frame up for another full five seconds.
    void showPortSettings();

    static constexpr std::string_view kTimeoutMark = " X X X X";

private:
    PanelState &m_state;
    SerialControl &m_comm;
    PanelDisplays &m_displays;
    IntervalTimer &m_timer2;
    IntervalTimer &m_timer3;
    IntervalTimer &m_timer4;
    IncrementalRenderer m_rxRenderer;
};
