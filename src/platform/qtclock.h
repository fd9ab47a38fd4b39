#pragma once

#include "clock.h"

// Timers on Qt's event loop. Precise timers: a coarse timer may be off by 5 % of its
// interval, which would show as drift in a 50 ms repeat.
class QtClock : public Clock {
public:
    std::unique_ptr<TimerHandle> createTimer(std::function<void()> onTimeout) override;
};
