// renderTraffic on any bytes: the rendering is printable, bounded, made piece by piece (so the
// rendering of a text is that of its first part followed by that of the rest), and keeps a
// printable reply character k at place 2k, which the status decoding relies on.

#include "core/protocol/rendering.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string rendering = renderTraffic(text);

    const std::size_t rendered = std::min(text.size(), kMaxRenderedChars);
    KORU_CHECK(!rendering.empty() && rendering.front() == ' ');
    KORU_CHECK(isPrintableAscii(rendering));
    KORU_CHECK(rendering.size() >= 1 + rendered && rendering.size() <= 1 + 3 * rendered);

    // Only the first kMaxRenderedChars characters count.
    if (text.size() > kMaxRenderedChars)
        KORU_CHECK(rendering == renderTraffic(text.substr(0, kMaxRenderedChars)));

    // Split anywhere (the first byte says where): the two renderings, joined without the
    // second's leading space, are the whole one.
    if (!text.empty() && text.size() <= kMaxRenderedChars) {
        const std::size_t cut = data[0] % (text.size() + 1);
        const std::string head = renderTraffic(text.substr(0, cut));
        const std::string tail = renderTraffic(text.substr(cut));
        KORU_CHECK(rendering == head + tail.substr(1));
    }

    // Places: while the characters are space to "z", character k (from 1) is at place 2k with a
    // space after it.
    for (std::size_t k = 0; k < rendered; ++k) {
        const auto code = static_cast<unsigned char>(text[k]);
        if (code < ' ' || code > 'z')
            break;
        KORU_CHECK(rendering[2 * k + 1] == text[k] && rendering[2 * k + 2] == ' ');
    }
    return 0;
}
