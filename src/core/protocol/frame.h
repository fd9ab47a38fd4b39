#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

// A command frame: the address prefix, a three-character code and a carriage return; 4 or 8
// bytes of ASCII. Nothing else is ever written to the line.
std::string buildFrame(std::string_view idPrefix, std::string_view code);

// What a projector answers, besides the status replies: every reply ends with a carriage
// return. ACK acknowledges an operation command; NAK answers a code the projector does not
// know, which no status decoding matches.
inline constexpr std::string_view kAckReply = "\x06\r";
inline constexpr std::string_view kNakReply = "\x15\r";

// The PJ Select options, the prefix each puts before every frame, and the projector it
// addresses on a line shared by up to four.
struct AddressOption {
    std::string_view control;
    std::string_view caption;
    std::string_view idPrefix;
    int projector;  // 1 to 4; 0: every projector on the line
};

inline constexpr std::array<AddressOption, 6> kAddressOptions{{
    {"Option3", "SINGLE", "", 0},
    {"Option4", "ALL", "AFFF", 0},
    {"Option5", "001", "A001", 1},
    {"Option6", "002", "A002", 2},
    {"Option7", "003", "A003", 3},
    {"Option8", "004", "A004", 4},
}};

// The option that puts this prefix before its frames; nothing for any other text.
const AddressOption *findAddressOption(std::string_view idPrefix);

// The projectors, among 1 to lineLength, that take a frame under this prefix, in order: every
// one for a prefix addressing all, the one addressed if it is on the line, none for a text
// that is no prefix.
std::vector<int> addressedProjectors(std::string_view idPrefix, int lineLength);
