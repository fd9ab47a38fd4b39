#pragma once

#include <chrono>
#include <cstdint>

#include "core/panel/linesettings.h"

// What a line at its set speed would still be carrying of the bytes written to it: a device
// that takes bytes faster than its line (a pseudo-terminal, a network server) reports no
// queue of its own, so the output bound counts this as well. Time is passed in.
class LineBacklog {
public:
    using Time = std::chrono::nanoseconds;

    // byteTimeNs for these settings.
    static Time byteTime(const LineSettings &settings);

    void setSettings(const LineSettings &settings) { m_byteTime = byteTime(settings); }
    // Bytes still on the line at now, rounded up.
    std::int64_t bytesOnLine(Time now) const;
    void wrote(std::int64_t bytes, Time now);
    void clear() { m_freeAt = Time::zero(); }

private:
    Time m_byteTime = byteTime(LineSettings{});
    Time m_freeAt = Time::zero();
};
