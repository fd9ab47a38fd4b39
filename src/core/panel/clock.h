#pragma once

#include <chrono>
#include <functional>
#include <memory>

// A source of periodic time-outs. The panel's interval timers run on one of these: the real
// clock on the event loop in the program, a virtual clock in the tests.
class TimerHandle {
public:
    virtual ~TimerHandle() = default;
    // Starts a full interval from now, dropping any interval in progress; then fires every
    // intervalMs until stopped.
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::unique_ptr<TimerHandle> createTimer(std::function<void()> onTimeout) = 0;
    // Monotonic time, from an arbitrary start.
    virtual std::chrono::nanoseconds now() const = 0;
};
