#include "support/virtualclock.h"

#include <algorithm>

class VirtualClock::Handle : public TimerHandle {
public:
    Handle(VirtualClock &clock, std::function<void()> onTimeout)
        : m_clock(&clock), m_onTimeout(std::move(onTimeout))
    {
        m_clock->m_handles.push_back(this);
    }
    ~Handle() override
    {
        if (m_clock)
            std::erase(m_clock->m_handles, this);
    }

    void start(int intervalMs) override
    {
        m_active = intervalMs > 0;
        m_interval = intervalMs;
        m_due = m_clock->m_now + intervalMs;
        m_order = ++m_clock->m_startCount;
    }
    void stop() override { m_active = false; }

    VirtualClock *m_clock;
    std::function<void()> m_onTimeout;
    std::int64_t m_due = 0;
    std::uint64_t m_order = 0;
    int m_interval = 0;
    bool m_active = false;
};

VirtualClock::~VirtualClock()
{
    for (Handle *handle : m_handles)
        handle->m_clock = nullptr;
}

std::unique_ptr<TimerHandle> VirtualClock::createTimer(std::function<void()> onTimeout)
{
    return std::make_unique<Handle>(*this, std::move(onTimeout));
}

VirtualClock::Handle *VirtualClock::nextDue(std::int64_t limit) const
{
    Handle *best = nullptr;
    for (Handle *handle : m_handles) {
        if (!handle->m_active || handle->m_due > limit)
            continue;
        if (!best || handle->m_due < best->m_due ||
            (handle->m_due == best->m_due && handle->m_order < best->m_order))
            best = handle;
    }
    return best;
}

void VirtualClock::advance(std::int64_t ms)
{
    advanceTo(m_now + ms);
}

void VirtualClock::advanceTo(std::int64_t time)
{
    while (Handle *handle = nextDue(time)) {
        m_now = handle->m_due;
        // The next due time is set before the tick runs, so a tick that restarts or stops its
        // own timer overrides it.
        handle->m_due += handle->m_interval;
        handle->m_onTimeout();
    }
    m_now = std::max(m_now, time);
}

std::int64_t VirtualClock::nextDueIn() const
{
    std::int64_t best = -1;
    for (const Handle *handle : m_handles) {
        if (handle->m_active && (best < 0 || handle->m_due - m_now < best))
            best = handle->m_due - m_now;
    }
    return best;
}
