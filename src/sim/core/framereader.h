#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A command frame as the projector takes it off the line: the address prefix ("" or "A001" to
// "A004" or "AFFF") and the three-character code, without the carriage return.
struct SimFrame {
    std::string prefix;
    std::string code;

    bool operator==(const SimFrame &) const = default;
};

// A line that did not parse as a frame: its first bytes and how long it was. Kept short so an
// endless stream without a carriage return costs nothing.
struct DiscardedBytes {
    std::string start;
    std::size_t length = 0;

    bool operator==(const DiscardedBytes &) const = default;
};

using FrameReaderOutput = std::variant<SimFrame, DiscardedBytes>;

// Cuts received bytes into frames. The carriage return is the only delimiter the protocol
// has, so everything between two carriage returns is one candidate: it is a frame when it is
// a three-character code, optionally after a valid address prefix, and discarded otherwise.
// Bytes may arrive in any split; at most kMaxKeptBytes are held between calls, whatever
// arrives.
class FrameReader {
public:
    static constexpr std::size_t kMaxFrameBytes = 7;  // "A001" + "CR0", without the CR
    static constexpr std::size_t kMaxKeptBytes = 32;

    // Takes any bytes at all and returns what the carriage returns among them completed.
    std::vector<FrameReaderOutput> feed(std::string_view bytes);
    // Forgets a partial line, as when the far end closes the port.
    void reset();
    // Bytes of the current line held (or counted) waiting for its carriage return.
    std::size_t pendingLength() const { return m_length; }

    static bool isValidPrefix(std::string_view prefix);
    static bool isValidCode(std::string_view code);

private:
    FrameReaderOutput finishLine();

    std::string m_line;  // the first kMaxKeptBytes bytes of the current line
    std::size_t m_length = 0;
};
