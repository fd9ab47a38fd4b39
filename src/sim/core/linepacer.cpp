#include "sim/core/linepacer.h"

#include <algorithm>
#include <limits>

#include "core/protocol/bytetime.h"

void LinePacer::setBaud(int baud)
{
    if (baud == m_baud)
        return;
    m_baud = std::max(baud, 0);
    m_byteNs = m_baud > 0 ? ::byteTimeNs(m_baud) : 0;
}

std::int64_t LinePacer::busyFromNs(std::int64_t nowNs) const
{
    // A line idle for longer than one byte time has carried exactly one byte since, not more.
    return m_backlog ? m_lineFreeNs : std::max(m_lineFreeNs, nowNs - m_byteNs);
}

std::size_t LinePacer::allowance(std::int64_t nowUs) const
{
    if (!paced())
        return std::numeric_limits<std::size_t>::max();
    const std::int64_t nowNs = nowUs * 1000;
    const std::int64_t carried = (nowNs - busyFromNs(nowNs)) / m_byteNs;
    return carried > 0 ? static_cast<std::size_t>(carried) : 0;
}

void LinePacer::consume(std::size_t bytes, std::int64_t nowUs, bool backlog)
{
    if (!paced())
        return;
    m_lineFreeNs = busyFromNs(nowUs * 1000) + static_cast<std::int64_t>(bytes) * m_byteNs;
    m_backlog = backlog;
}

std::int64_t LinePacer::nextByteUs(std::int64_t nowUs) const
{
    if (allowance(nowUs) > 0)
        return nowUs;
    return (m_lineFreeNs + m_byteNs + 999) / 1000;
}
