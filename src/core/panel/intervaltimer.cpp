#include "core/panel/intervaltimer.h"

IntervalTimer::IntervalTimer(Clock &clock, int intervalMs)
    : m_handle(clock.createTimer([this] { tick(); })), m_interval(intervalMs)
{
}

void IntervalTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (m_enabled && m_interval > 0)
        m_handle->start(m_interval);
    else
        m_handle->stop();
}

void IntervalTimer::setInterval(int intervalMs)
{
    m_interval = intervalMs;
    if (!m_enabled)
        return;
    if (m_interval > 0)
        m_handle->start(m_interval);
    else
        m_handle->stop();
}

void IntervalTimer::tick()
{
    if (m_enabled && m_onTick)
        m_onTick();
}
