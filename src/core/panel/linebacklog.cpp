#include "core/panel/linebacklog.h"

#include <algorithm>

#include "core/protocol/bytetime.h"

LineBacklog::Time LineBacklog::byteTime(const LineSettings &settings)
{
    return Time(
        byteTimeNs(settings.baud, settings.dataBits, settings.parity != 'N', settings.stopBits));
}

std::int64_t LineBacklog::bytesOnLine(Time now) const
{
    return m_freeAt > now ? (m_freeAt - now + m_byteTime - Time(1)) / m_byteTime : 0;
}

void LineBacklog::wrote(std::int64_t bytes, Time now)
{
    m_freeAt = std::max(m_freeAt, now) + m_byteTime * bytes;
}
