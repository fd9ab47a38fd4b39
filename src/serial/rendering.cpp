#include "rendering.h"

#include <algorithm>

std::string renderTraffic(std::string_view text)
{
    text = text.substr(0, std::min(text.size(), kMaxRenderedChars));
    std::string rendering;
    rendering.reserve(1 + 3 * text.size());
    rendering.push_back(' ');
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code == 6) {
            rendering.push_back('&');
        } else if (code == 13) {
            rendering.append("CR ");
        } else if (code == 10) {
            rendering.append("LF ");
        } else if (code >= 32 && code <= 122) {
            rendering.push_back(c);
            rendering.push_back(' ');
        } else {
            rendering.append("? ");
        }
    }
    return rendering;
}

void appendReceived(std::string &rxBuffer, std::string_view received)
{
    if (rxBuffer.size() >= kMaxRenderedChars)
        return;
    rxBuffer.append(received.substr(0, kMaxRenderedChars - rxBuffer.size()));
}
