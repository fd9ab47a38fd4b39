// libFuzzer target for the frame reader: the first byte chooses how the rest is split into
// feeds, so the fuzzer explores splits as well as contents. Every frame that comes out must be
// well formed, and what the reader keeps between feeds must stay bounded.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "framereader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 16;
    std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);
    FrameReader reader;
    while (!bytes.empty()) {
        const std::string_view part = bytes.substr(0, piece);
        bytes.remove_prefix(part.size());
        for (const FrameReaderOutput &output : reader.feed(part)) {
            if (const auto *frame = std::get_if<SimFrame>(&output)) {
                if (!FrameReader::isValidCode(frame->code) ||
                    (!frame->prefix.empty() && !FrameReader::isValidPrefix(frame->prefix)))
                    std::abort();
            } else if (std::get<DiscardedBytes>(output).start.size() > FrameReader::kMaxKeptBytes) {
                std::abort();
            }
        }
    }
    return 0;
}
