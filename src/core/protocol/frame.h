#pragma once

#include <array>
#include <string>
#include <string_view>

// A command frame: the address prefix, a three-character code and a carriage return; 4 or 8
// bytes of ASCII. Nothing else is ever written to the line.
std::string buildFrame(std::string_view idPrefix, std::string_view code);

// The PJ Select options and the prefix each puts before every frame.
struct AddressOption {
    std::string_view control;
    std::string_view caption;
    std::string_view idPrefix;
};

inline constexpr std::array<AddressOption, 6> kAddressOptions{{
    {"Option3", "SINGLE", ""},
    {"Option4", "ALL", "AFFF"},
    {"Option5", "001", "A001"},
    {"Option6", "002", "A002"},
    {"Option7", "003", "A003"},
    {"Option8", "004", "A004"},
}};
