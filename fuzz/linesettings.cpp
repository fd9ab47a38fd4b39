// LineSettings::parse on any text.
//
// Properties: a text is taken only with a positive baud, a parity of N, E, O, M or S, 5 to 8
// data bits and 1 or 2 stop bits; what it gives, written out again in the "19200,N,8,1" form,
// parses to the same settings; a text already in that form is taken only as itself.

#include "core/panel/linesettings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"

namespace {

std::string format(const LineSettings &settings)
{
    return std::to_string(settings.baud) + ',' + settings.parity + ',' +
           std::to_string(settings.dataBits) + ',' + std::to_string(settings.stopBits);
}

bool same(const LineSettings &a, const LineSettings &b)
{
    return a.baud == b.baud && a.parity == b.parity && a.dataBits == b.dataBits &&
           a.stopBits == b.stopBits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        return 0;
    KORU_CHECK(parsed->baud > 0);
    KORU_CHECK(std::string_view("NEOMS").find(parsed->parity) != std::string_view::npos);
    KORU_CHECK(parsed->dataBits >= 5 && parsed->dataBits <= 8);
    KORU_CHECK(parsed->stopBits == 1 || parsed->stopBits == 2);
    const std::string written = format(*parsed);
    const auto again = LineSettings::parse(written);
    KORU_CHECK(again && same(*again, *parsed));
    // Only leading zeros may make a taken text differ from its written form.
    if (text.find('0') == std::string_view::npos)
        KORU_CHECK(written == text);
    return 0;
}
