#pragma once

#include <optional>
#include <string_view>

// A settings text of the "19200,N,8,1" form: baud, parity letter, data bits, stop bits.
struct LineSettings {
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;

    static std::optional<LineSettings> parse(std::string_view text);
};
