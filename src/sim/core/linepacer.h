#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

// How fast a serial line carries bytes: ten bit times per byte (a start bit, 8 data bits and
// a stop bit), one direction of the line. Times are microseconds on any steady clock.
//
// While the sender keeps a backlog the line carries one byte every byte time, back to back,
// so a caller that wakes up late may catch up on everything carried meanwhile. After the
// backlog has run dry the line is idle: new bytes start arriving when they are noticed, one
// at once and then one every byte time, never in a burst for the time it stood idle.
class LinePacer {
public:
    // 0 turns pacing off: every byte may go at once.
    void setBaud(int baud);
    int baud() const { return m_baud; }
    bool paced() const { return m_baud > 0; }
    std::int64_t byteTimeNs() const { return m_byteNs; }

    // How many bytes the line has room for at nowUs.
    std::size_t allowance(std::int64_t nowUs) const;
    // Books bytes sent or taken at nowUs; backlog says whether more were waiting that the
    // allowance did not let through.
    void consume(std::size_t bytes, std::int64_t nowUs, bool backlog);
    // The first time from nowUs on at which the allowance is at least one byte.
    std::int64_t nextByteUs(std::int64_t nowUs) const;

private:
    std::int64_t busyFromNs(std::int64_t nowNs) const;

    int m_baud = 0;
    std::int64_t m_byteNs = 0;
    // When the line has carried the last byte booked; long ago at first.
    std::int64_t m_lineFreeNs = std::numeric_limits<std::int64_t>::min() / 2;
    bool m_backlog = false;
};
