#include "core/panel/trafficmonitor.h"

#include "core/panel/intervaltimer.h"
#include "core/protocol/statusdecoder.h"
#include "core/protocol/rendering.h"
#include "core/panel/serialcontrol.h"

TrafficMonitor::TrafficMonitor(PanelState &state, SerialControl &comm, PanelDisplays &displays,
                               IntervalTimer &timer2, IntervalTimer &timer3, IntervalTimer &timer4)
    : m_state(state),
      m_comm(comm),
      m_displays(displays),
      m_timer2(timer2),
      m_timer3(timer3),
      m_timer4(timer4)
{
}

void TrafficMonitor::Hyouji(const std::string &text, unsigned char mode)
{
    // The frame goes onto the line before any display changes.
    const bool sending = mode == kSendMode;
    const bool portClosed = sending && !m_comm.portOpen();
    if (sending)
        m_comm.output(text);

    if (sending) {
        m_displays.setTxd(renderTraffic(text));
        m_timer2.setEnabled(true);
        m_state.awaitingReply = 1;
        m_timer4.setEnabled(true);
        // A frame sent with no port open goes nowhere: bring up the port choice so the
        // operator sees that a port must be chosen.
        if (portClosed)
            showPortSettings();
        return;
    }
    // Received text grows between receive events; only what was added is rendered again.
    const std::string &rendering = m_rxRenderer.render(text);
    m_displays.setRxd(rendering);
    if (auto status = decodeStatus(rendering, m_state.lastCommand, m_state.idPrefix))
        m_displays.setStatus(*status);
}

void TrafficMonitor::MSComm1_OnComm()
{
    if (m_comm.commEvent() != SerialControl::kEventReceive)
        return;
    appendReceived(m_state.rxBuffer, m_comm.input());
    m_state.awaitingReply = 0;
    Hyouji(m_state.rxBuffer, kReceiveMode);
}

void TrafficMonitor::Timer2_Timer()
{
    if (m_state.awaitingReply == 1)
        m_displays.setRxd(kTimeoutMark);
    m_timer2.setEnabled(false);
    m_state.rxBuffer.clear();
    m_state.awaitingReply = 0;
}

void TrafficMonitor::Timer3_Timer()
{
    m_displays.setFrame8Visible(false);
    m_timer3.setEnabled(false);
}

void TrafficMonitor::Timer4_Timer()
{
    m_displays.setTxd("");
    m_displays.setRxd("");
    m_displays.setStatus("");
    m_timer4.setEnabled(false);
}

void TrafficMonitor::showPortSettings()
{
    m_displays.setFrame8Visible(true);
    m_timer3.setEnabled(false);
    m_timer3.setEnabled(true);
}
