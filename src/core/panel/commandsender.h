#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/protocol/frame.h"
#include "core/protocol/oneshotbuttons.h"
#include "core/panel/panelstate.h"

class IntervalTimer;

// The one send step of every command button, the one-shot buttons and the PJ Select options.
class CommandSender {
public:
    // hyouji(text, mode) is the traffic routine; mode 1 writes the text to the line.
    using Hyouji = std::function<void(const std::string &text, unsigned char mode)>;

    CommandSender(PanelState &state, IntervalTimer &timer1, Hyouji hyouji);

    // Frames the code under the prefix in force, keeps it as lastCommand and sends it. No
    // queue, no pause, no check for an earlier unanswered frame.
    void sendCommand(std::string_view code);
    void click(const OneShotButton &button);
    void selectAddress(const AddressOption &option);

private:
    PanelState &m_state;
    IntervalTimer &m_timer1;
    Hyouji m_hyouji;
};
