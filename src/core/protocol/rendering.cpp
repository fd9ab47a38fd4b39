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

const std::string &IncrementalRenderer::render(std::string_view text)
{
    text = bounded(text);
    const bool grown = text.size() >= m_source.size() && text.starts_with(m_source);
    if (!grown) {
        m_source.clear();
        m_rendering.assign(1, ' ');
    }
    const std::string_view added = text.substr(m_source.size());
    appendRendering(m_rendering, added);
    m_source.append(added);
    return m_rendering;
}

void appendReceived(std::string &rxBuffer, std::string_view received)
{
    if (rxBuffer.size() >= kMaxRenderedChars)
        return;
    rxBuffer.append(received.substr(0, kMaxRenderedChars - rxBuffer.size()));
}
