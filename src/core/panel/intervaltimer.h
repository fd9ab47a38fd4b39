#pragma once

#include <functional>
#include <memory>

#include "core/panel/clock.h"

// A timer with an enabled flag and an interval in milliseconds, raising its tick every interval
// while enabled. Enabling a stopped timer starts a full interval; giving a running timer a new
// interval starts a full interval of the new length; disabling drops the interval in progress.
// Enabling a timer that already runs lets the interval in progress run on. An interval of 0
// raises no ticks. The clock's timer calls back into this object, so it stays where it was
// made: it can be neither copied nor moved.
class IntervalTimer {
public:
    IntervalTimer(Clock &clock, int intervalMs);
    IntervalTimer(const IntervalTimer &) = delete;
    IntervalTimer &operator=(const IntervalTimer &) = delete;

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int intervalMs);

    void setOnTick(std::function<void()> onTick) { m_onTick = std::move(onTick); }

private:
    void tick();

    std::unique_ptr<TimerHandle> m_handle;
    std::function<void()> m_onTick;
    int m_interval;
    bool m_enabled = false;
};
