#include "sim/core/framereader.h"

#include <algorithm>

#include "core/protocol/frame.h"

bool FrameReader::isValidPrefix(std::string_view prefix)
{
    // A frame without a prefix is told apart by its length.
    return !prefix.empty() && findAddressOption(prefix);
}

bool FrameReader::isValidCode(std::string_view code)
{
    // The panel only ever sends printable ASCII; anything else in a code is line noise.
    return code.size() == 3 &&
           std::all_of(code.begin(), code.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

std::vector<FrameReaderOutput> FrameReader::feed(std::string_view bytes)
{
    std::vector<FrameReaderOutput> outputs;
    while (!bytes.empty()) {
        const auto cr = bytes.find('\r');
        const std::string_view piece = bytes.substr(0, cr);
        if (m_line.size() < kMaxKeptBytes)
            m_line.append(piece.substr(0, kMaxKeptBytes - m_line.size()));
        m_length += piece.size();
        if (cr == std::string_view::npos)
            break;
        outputs.push_back(finishLine());
        bytes.remove_prefix(cr + 1);
    }
    return outputs;
}

void FrameReader::reset()
{
    m_line.clear();
    m_length = 0;
}

FrameReaderOutput FrameReader::finishLine()
{
    FrameReaderOutput output;
    const std::string_view line = m_line;
    if (m_length == 3 && isValidCode(line)) {
        output = SimFrame{std::string(), std::string(line)};
    } else if (m_length == kMaxFrameBytes && isValidPrefix(line.substr(0, 4)) &&
               isValidCode(line.substr(4))) {
        output = SimFrame{std::string(line.substr(0, 4)), std::string(line.substr(4))};
    } else {
        output = DiscardedBytes{m_line, m_length};
    }
    reset();
    return output;
}
