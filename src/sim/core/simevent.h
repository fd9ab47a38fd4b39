#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One thing that happened on the simulated line, as the log and in-process observers see it.
// timeUs is CLOCK_MONOTONIC in microseconds, the clock other processes on the machine read
// as their monotonic clock, so a benchmark can line its own times up with the log.
struct SimEvent {
    enum class Kind {
        Received,   // a frame taken off the line: prefix, code, takenBy
        Replied,    // a reply's first byte went out: projector, bytes (the whole reply)
        Unasked,    // unasked text went out: bytes
        Discarded,  // a line that was not a frame: bytes (its start), length
        Closed,     // the far end closed the port
        Opened,     // the far end opened it again
    };

    Kind kind = Kind::Received;
    std::int64_t timeUs = 0;
    std::string prefix;
    std::string code;
    std::vector<int> takenBy;
    int projector = 0;
    std::string bytes;
    std::size_t length = 0;
};

// One log line, without its newline:
//   <seconds>.<microseconds> RX <prefix or -> <code>
//   <seconds>.<microseconds> TX <projector> <reply>
//   <seconds>.<microseconds> UNASKED <text>
//   <seconds>.<microseconds> DROP <length> <start of the line>
//   <seconds>.<microseconds> CLOSED
//   <seconds>.<microseconds> OPENED
// Bytes are escaped as the traffic log escapes them (escapeTraffic): a line holds no control
// character, and as spaces stay spaces an escaped text is the rest of the line after its last
// field.
std::string formatLogLine(const SimEvent &event);

// The reverse of escapeTraffic, for texts given on the command line: "\r", "\\" and "\xHH"
// (either case), and "\n" and "\t" as well, as logs of earlier versions wrote them. Nothing
// when an escape is malformed.
std::optional<std::string> unescapeBytes(std::string_view text);
// Seconds with six decimals.
std::string formatTimestamp(std::int64_t timeUs);
// Now on CLOCK_MONOTONIC, in microseconds.
std::int64_t monotonicNowUs();
