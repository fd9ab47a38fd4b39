#pragma once

#include <cstddef>
#include <cstdint>

// How fast a serial line carries bytes: ten bit times per byte (a start bit, 8 data bits and
// a stop bit), one direction of the line. Times are microseconds on any steady clock.
//
// The line holds no backlog of its own: after a pause it carries one byte at once and then
// one every byte time, so reading or writing at the pace it allows never runs ahead of a real
// line, however long the pause before.
class LinePacer {
public:
    // 0 turns pacing off: every byte may go at once.
    void setBaud(int baud);
    int baud() const { return m_baud; }
    bool paced() const { return m_baud > 0; }
    std::int64_t byteTimeNs() const { return m_byteNs; }

    // How many bytes the line has room for at nowUs.
    std::size_t allowance(std::int64_t nowUs) const;
    // Books bytes sent or taken at nowUs.
    void consume(std::size_t bytes, std::int64_t nowUs);
    // The first time from nowUs on at which the allowance is at least one byte.
    std::int64_t nextByteUs(std::int64_t nowUs) const;

private:
    std::int64_t busyFromNs(std::int64_t nowNs) const;

    int m_baud = 0;
    std::int64_t m_byteNs = 0;
    std::int64_t m_lineFreeNs = 0;  // when the line has carried the last byte booked
};
