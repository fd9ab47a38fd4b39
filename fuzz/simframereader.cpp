// The simulator's frame reader on any bytes in any split: the first byte seeds the split, the
// rest are the bytes. What comes out must not depend on the split, there is one output per
// carriage return, every frame is well formed, and what the reader keeps stays bounded.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "check.h"
#include "sim/core/framereader.h"

namespace {

void checkOutput(const FrameReaderOutput &output)
{
    if (const auto *frame = std::get_if<SimFrame>(&output)) {
        KORU_CHECK(FrameReader::isValidCode(frame->code));
        KORU_CHECK(frame->prefix.empty() || FrameReader::isValidPrefix(frame->prefix));
    } else {
        const auto &discarded = std::get<DiscardedBytes>(output);
        KORU_CHECK(discarded.start.size() ==
                   std::min(discarded.length, FrameReader::kMaxKeptBytes));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::uint32_t seed = data[0];
    const std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);

    FrameReader whole;
    const std::vector<FrameReaderOutput> expected = whole.feed(bytes);
    KORU_CHECK(expected.size() ==
               static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\r')));
    for (const FrameReaderOutput &output : expected)
        checkOutput(output);
    const std::size_t lastCr = bytes.rfind('\r');
    const std::size_t pending =
        lastCr == std::string_view::npos ? bytes.size() : bytes.size() - lastCr - 1;
    KORU_CHECK(whole.pendingLength() == pending);

    // The same bytes in pieces of 0 to 40 bytes, chosen by a small generator.
    FrameReader split;
    std::vector<FrameReaderOutput> outputs;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        seed = seed * 1103515245U + 12345U;
        const std::string_view piece = rest.substr(0, (seed >> 16) % 41);
        rest.remove_prefix(piece.size());
        for (FrameReaderOutput &output : split.feed(piece))
            outputs.push_back(std::move(output));
    }
    KORU_CHECK(outputs == expected);
    KORU_CHECK(split.pendingLength() == whole.pendingLength());

    // After a reset the reader starts afresh: a frame on its own line comes out as a frame.
    split.reset();
    KORU_CHECK(split.pendingLength() == 0);
    const std::vector<FrameReaderOutput> afresh = split.feed("CR0\r");
    KORU_CHECK(afresh.size() == 1 && afresh[0] == FrameReaderOutput(SimFrame{"", "CR0"}));
    return 0;
}
