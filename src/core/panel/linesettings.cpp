#include "core/panel/linesettings.h"

#include <charconv>
#include <vector>

namespace {

std::optional<int> number(std::string_view field)
{
    int value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || value <= 0)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<LineSettings> LineSettings::parse(std::string_view text)
{
    std::vector<std::string_view> fields;
    while (true) {
        const auto comma = text.find(',');
        fields.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (fields.size() != 4 || fields[1].size() != 1)
        return std::nullopt;
    LineSettings settings;
    const auto baud = number(fields[0]);
    const auto dataBits = number(fields[2]);
    const auto stopBits = number(fields[3]);
    const char parity = fields[1][0];
    if (!baud || !dataBits || *dataBits < 5 || *dataBits > 8 || !stopBits || *stopBits > 2)
        return std::nullopt;
    if (parity != 'N' && parity != 'E' && parity != 'O' && parity != 'M' && parity != 'S')
        return std::nullopt;
    settings.baud = *baud;
    settings.parity = parity;
    settings.dataBits = *dataBits;
    settings.stopBits = *stopBits;
    return settings;
}
