// The escaping of the logs' bytes and the simulator's reading of escaped command-line texts,
// both ways, on any bytes.
//
// Properties: an escaped text holds only space to "~", so a log line holds no control
// character; unescaping it gives back the bytes exactly; a text that unescapes at all
// unescapes to bytes whose escaped form unescapes to them again, and a text of only "!" to "~"
// with no backslash unescapes to itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "core/protocol/escaping.h"
#include "sim/core/simevent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);

    const std::string escaped = escapeTraffic(bytes);
    KORU_CHECK(isPrintableAscii(escaped));
    const auto back = unescapeBytes(escaped);
    KORU_CHECK(back && *back == bytes);

    const auto unescaped = unescapeBytes(bytes);
    if (unescaped) {
        const auto again = unescapeBytes(escapeTraffic(*unescaped));
        KORU_CHECK(again && *again == *unescaped);
        KORU_CHECK(unescaped->size() <= bytes.size());
    }
    if (isPrintableAscii(bytes) && bytes.find('\\') == std::string_view::npos)
        KORU_CHECK(unescaped && *unescaped == bytes);
    return 0;
}
