#pragma once

#include "core/panel/clock.h"

// Timers on Qt's event loop, on the kernel's high-resolution timers where there are any
// (timerfd), so that a tick comes when it is due rather than up to a millisecond later;
// elsewhere precise QTimers (a coarse timer may be off by 5 % of its interval, which would
// show as drift in a 50 ms repeat).
class QtClock : public Clock {
public:
    std::unique_ptr<TimerHandle> createTimer(std::function<void()> onTimeout) override;
    std::chrono::nanoseconds now() const override
    {
        return std::chrono::steady_clock::now().time_since_epoch();
    }
};
