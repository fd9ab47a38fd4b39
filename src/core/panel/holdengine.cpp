#include "core/panel/holdengine.h"

#include "core/panel/commandsender.h"
#include "core/panel/trafficmonitor.h"
#include "core/protocol/oneshotbuttons.h"

HoldEngine::HoldEngine(Clock &clock, CommandSender &sender, TrafficMonitor &traffic)
    : m_sender(sender),
      m_traffic(traffic),
      m_repeat(clock, kDesignRepeatMs),
      m_safetyStop(clock, kSafetyStopMs)
{
    m_repeat.setOnTick([this] { Timer1_Timer(); });
    m_safetyStop.setOnTick([this] {
        if (!m_held)
            return;
        release(*m_held);
        if (m_onSafetyStop)
            m_onSafetyStop();
    });
}

void HoldEngine::press(const HoldButton &button)
{
    m_held = &button;
    // A press while another is held (a second mouse button) starts the full time again.
    m_safetyStop.setEnabled(false);
    m_safetyStop.setEnabled(true);
    if (button.kind == HoldButton::Kind::Arrow) {
        for (const ArrowTimeouts &mode : kArrowTimeouts) {
            if (mode.arrowMode == m_arrowMode)
                m_traffic.setTimeouts(mode.replyTimeoutMs, mode.displayTimeoutMs);
        }
        m_heldKey = button.code;
        m_sender.sendCommand(button.command);
        // The arrows repeat at whatever interval the repeat timer last received.
        m_repeat.setEnabled(true);
        return;
    }
    m_heldKey = button.code;
    m_sender.sendCommand(button.command);
    // After the send, so the time-outs it started run with the short intervals.
    m_repeat.setInterval(button.repeatMs);
    m_traffic.setTimeouts(button.replyTimeoutMs, button.displayTimeoutMs);
    m_repeat.setEnabled(true);
}

void HoldEngine::release(const HoldButton &button)
{
    m_held = nullptr;
    m_safetyStop.setEnabled(false);
    m_heldKey = button.control == kSelectControl ? kSelectReleasedCode : 0;
    m_repeat.setEnabled(false);
    m_traffic.endHold();
    if (button.kind == HoldButton::Kind::DigitalZoom) {
        m_repeat.setInterval(kDigitalZoomArrowRepeatMs);
        m_arrowMode = kDigitalZoomArrowMode;
    }
}

void HoldEngine::stop()
{
    m_repeat.setEnabled(false);
    m_safetyStop.setEnabled(false);
}

void HoldEngine::Timer1_Timer()
{
    if (m_heldKey == 0)
        return;
    if (const auto command = repeatCommand(m_heldKey))
        m_sender.sendCommand(*command);
    m_repeat.setEnabled(true);
}

void HoldEngine::setUpArrowsForMenu()
{
    m_repeat.setInterval(kMenuArrowRepeatMs);
    m_arrowMode = kMenuArrowMode;
}
