#pragma once

#include <array>
#include <string>
#include <string_view>

// A command frame: the address prefix, a three-character code and a carriage return; 4 or 8
// bytes of ASCII. Nothing else is ever written to the line.
std::string buildFrame(std::string_view idPrefix, std::string_view code);

// What a projector answers, besides the status replies: every reply ends with a carriage
// return. ACK acknowledges an operation command; NAK answers a code the projector does not
// know, which no status decoding matches.
inline constexpr std::string_view kAckReply = "\x06\r";
inline constexpr std::string_view kNakReply = "\x15\r";

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
