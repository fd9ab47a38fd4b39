#include "core/panel/linebacklog.h"

#include <algorithm>

LineBacklog::Time LineBacklog::byteTime(const LineSettings &settings)
{
    const int bits = 1 + settings.dataBits + (settings.parity == 'N' ? 0 : 1) + settings.stopBits;
    return Time(1'000'000'000LL * bits / settings.baud);
}

std::int64_t LineBacklog::bytesOnLine(Time now) const
{
    return m_freeAt > now ? (m_freeAt - now + m_byteTime - Time(1)) / m_byteTime : 0;
}

void LineBacklog::wrote(std::int64_t bytes, Time now)
{
    m_freeAt = std::max(m_freeAt, now) + m_byteTime * bytes;
}
