#pragma once

#include <cstdint>
#include <functional>

#include "core/panel/intervaltimer.h"
#include "core/protocol/holdbuttons.h"

class Clock;
class CommandSender;
class TrafficMonitor;

// Press-and-hold: the press sends at once and starts the repeat timer, every tick sends the
// held command again under the prefix in force, the release stops it and restores the normal
// time-outs. Owns the repeat timer (Timer1), heldKey and arrowMode: how the arrow pad was last
// set up, which decides its time-outs. A hold whose release never comes (the mouse taken away
// in a way no window event tells) ends by itself after kSafetyStopMs: a frame repeated for
// ever is worse than a hold cut short.
class HoldEngine {
public:
    static constexpr int kSafetyStopMs = 60000;

    HoldEngine(Clock &clock, CommandSender &sender, TrafficMonitor &traffic);

    void press(const HoldButton &button);
    void release(const HoldButton &button);
    void Timer1_Timer();

    // MENU "ON" and "A-IMAGE" set the arrow pad up for the projector's menu. Only the
    // interval: a stopped repeat timer stays stopped.
    void setUpArrowsForMenu();
    // Start-up: nothing held.
    void reset()
    {
        m_heldKey = 0;
        m_held = nullptr;
    }
    void stop();
    // Told when the safety stop ended a hold, so the button held can be let go of.
    void setOnSafetyStop(std::function<void()> onStop) { m_onSafetyStop = std::move(onStop); }

    std::uint8_t heldKey() const { return m_heldKey; }
    std::uint8_t arrowMode() const { return m_arrowMode; }
    const IntervalTimer &repeatTimer() const { return m_repeat; }

private:
    CommandSender &m_sender;
    TrafficMonitor &m_traffic;
    IntervalTimer m_repeat;  // Timer1
    IntervalTimer m_safetyStop;
    const HoldButton *m_held = nullptr;
    std::function<void()> m_onSafetyStop;
    std::uint8_t m_heldKey = 0;
    std::uint8_t m_arrowMode = 0;
};
