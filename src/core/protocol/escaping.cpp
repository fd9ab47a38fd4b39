#include "core/protocol/escaping.h"

std::string escapeTraffic(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\\') {
            text += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7f) {
            text += "\\x";
            text.push_back(kHex[byte >> 4]);
            text.push_back(kHex[byte & 0xf]);
        } else {
            text.push_back(c);
        }
    }
    return text;
}
