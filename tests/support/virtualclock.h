#pragma once

#include <cstdint>
#include <vector>

#include "core/panel/clock.h"

// Time that moves only when told to. advance() fires every tick that falls due, in time order
// (ties in the order the timers were started), each tick seeing what the ones before it did:
// a tick that stops or restarts another timer changes what fires after it.
class VirtualClock : public Clock {
public:
    VirtualClock() = default;
    VirtualClock(const VirtualClock &) = delete;
    VirtualClock &operator=(const VirtualClock &) = delete;
    ~VirtualClock() override;

    std::unique_ptr<TimerHandle> createTimer(std::function<void()> onTimeout) override;

    // Milliseconds since the clock was made.
    std::int64_t nowMs() const { return m_now; }
    std::chrono::nanoseconds now() const override { return std::chrono::milliseconds(m_now); }
    void advance(std::int64_t ms);
    void advanceTo(std::int64_t time);
    // Milliseconds until the next tick, or -1 when no timer runs.
    std::int64_t nextDueIn() const;

private:
    class Handle;
    friend class Handle;
    Handle *nextDue(std::int64_t limit) const;

    std::vector<Handle *> m_handles;
    std::int64_t m_now = 0;
    std::uint64_t m_startCount = 0;
};
