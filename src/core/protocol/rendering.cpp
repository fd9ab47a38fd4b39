#include "core/protocol/rendering.h"

#include <algorithm>

namespace {

void appendRendering(std::string &rendering, std::string_view text)
{
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
}

std::string_view bounded(std::string_view text)
{
    return text.substr(0, std::min(text.size(), kMaxRenderedChars));
}

}  // namespace

std::string renderTraffic(std::string_view text)
{
    text = bounded(text);
    std::string rendering;
    rendering.reserve(1 + 3 * text.size());
    rendering.push_back(' ');
    appendRendering(rendering, text);
    return rendering;
}

void appendReceived(std::string &rxBuffer, std::string_view received)
{
    if (rxBuffer.size() >= kMaxRenderedChars)
        return;
    rxBuffer.append(received.substr(0, kMaxRenderedChars - rxBuffer.size()));
}

std::string_view ReceiveBuffer::append(std::string_view received)
{
    const std::size_t textBefore = m_text.size();
    const std::size_t renderingBefore = m_rendering.size();
    appendReceived(m_text, received);
    appendRendering(m_rendering, std::string_view(m_text).substr(textBefore));
    return std::string_view(m_rendering).substr(renderingBefore);
}

void ReceiveBuffer::clear()
{
    m_text.clear();
    m_rendering.assign(1, ' ');
}
