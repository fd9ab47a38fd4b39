#include "core/panel/holdengine.h"

#include "core/panel/commandsender.h"
#include "core/panel/intervaltimer.h"

HoldEngine::HoldEngine(PanelState &state, CommandSender &sender, IntervalTimer &timer1,
                       IntervalTimer &timer2, IntervalTimer &timer4)
    : m_state(state), m_sender(sender), m_timer1(timer1), m_timer2(timer2), m_timer4(timer4)
{
}

void HoldEngine::press(const HoldButton &button)
{
    if (button.kind == HoldButton::Kind::Arrow) {
        for (const ArrowTimeouts &mode : kArrowTimeouts) {
            if (mode.arrowMode == m_state.arrowMode) {
                m_timer2.setInterval(mode.replyTimeoutMs);
                m_timer4.setInterval(mode.displayTimeoutMs);
            }
        }
        m_state.heldKey = button.code;
        m_sender.sendCommand(button.command);
        // The arrows repeat at whatever interval the repeat timer last received.
        m_timer1.setEnabled(true);
        return;
    }
    m_state.heldKey = button.code;
    m_sender.sendCommand(button.command);
    // After the send, so the time-outs it started run with the short intervals.
    m_timer1.setInterval(button.repeatMs);
    m_timer2.setInterval(button.replyTimeoutMs);
    m_timer4.setInterval(button.displayTimeoutMs);
    m_timer1.setEnabled(true);
}

void HoldEngine::release(const HoldButton &button)
{
    m_state.heldKey = button.control == kSelectControl ? kSelectReleasedCode : 0;
    m_timer1.setEnabled(false);
    m_timer2.setEnabled(false);
    m_timer4.setEnabled(true);
    if (m_clearTraffic)
        m_clearTraffic();
    m_timer2.setInterval(kNormalReplyTimeoutMs);
    m_timer4.setInterval(kNormalDisplayTimeoutMs);
    m_state.rxBuffer.clear();
    if (button.kind == HoldButton::Kind::DigitalZoom) {
        m_timer1.setInterval(kDigitalZoomArrowRepeatMs);
        m_state.arrowMode = kDigitalZoomArrowMode;
    }
}

void HoldEngine::Timer1_Timer()
{
    if (m_state.heldKey == 0)
        return;
    if (const auto command = repeatCommand(m_state.heldKey))
        m_sender.sendCommand(*command);
    m_timer1.setEnabled(true);
}
