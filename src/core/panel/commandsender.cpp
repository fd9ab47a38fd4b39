#include "core/panel/commandsender.h"

#include "core/panel/intervaltimer.h"

CommandSender::CommandSender(PanelState &state, IntervalTimer &timer1, Hyouji hyouji)
    : m_state(state), m_timer1(timer1), m_hyouji(std::move(hyouji))
{
}

void CommandSender::sendCommand(std::string_view code)
{
    m_state.lastCommand = buildFrame(m_state.idPrefix, code);
    m_hyouji(m_state.lastCommand, 1);
}

void CommandSender::click(const OneShotButton &button)
{
    sendCommand(button.code);
    if (button.extra == OneShotButton::Extra::MenuArrowPad) {
        // Only the interval: a stopped repeat timer stays stopped.
        m_timer1.setInterval(kMenuArrowRepeatMs);
        m_state.arrowMode = kMenuArrowMode;
    }
}

void CommandSender::selectAddress(const AddressOption &option)
{
    m_state.idPrefix = std::string(option.idPrefix);
}
