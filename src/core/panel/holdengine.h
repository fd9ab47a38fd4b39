#pragma once

#include <functional>

#include "core/protocol/holdbuttons.h"
#include "core/panel/panelstate.h"

class CommandSender;
class IntervalTimer;

// Press-and-hold: the press sends at once and starts the repeat timer, every tick sends the
// held command again under the prefix in force, the release stops it and restores the normal
// time-outs.
class HoldEngine {
public:
    HoldEngine(PanelState &state, CommandSender &sender, IntervalTimer &timer1,
               IntervalTimer &timer2, IntervalTimer &timer4);

    void press(const HoldButton &button);
    void release(const HoldButton &button);
    void Timer1_Timer();

    using ClearTraffic = std::function<void()>;
    // Blanks the TXD and then the RXD display.
    void setClearTraffic(ClearTraffic clear) { m_clearTraffic = std::move(clear); }

private:
    PanelState &m_state;
    CommandSender &m_sender;
    IntervalTimer &m_timer1;
    IntervalTimer &m_timer2;
    IntervalTimer &m_timer4;
    ClearTraffic m_clearTraffic;
};
