#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Texts are rendered for the TXD and RXD displays one character at a time, after one leading
// space: ACK as "&", carriage return as "CR ", line feed as "LF ", space to "z" as the
// character and a space, everything else as "? ". So reply character k sits at place 2k while
// all before it are printable, which the status decoding relies on.
inline constexpr std::size_t kMaxRenderedChars = 32767;

// Renders the first kMaxRenderedChars characters of text.
std::string renderTraffic(std::string_view text);

// Renders a text that grows between calls, such as the receive buffer, in time proportional
// to what was added rather than to the whole text. Any other text is rendered afresh.
class IncrementalRenderer {
public:
    const std::string &render(std::string_view text);

private:
    std::string m_source;  // what the rendering is of
    std::string m_rendering = " ";
};

// Appends received text to the receive buffer, keeping at most its first kMaxRenderedChars
// characters: what arrives beyond them is dropped until the buffer is next emptied, so memory
// and time stay bounded under an endless stream of unasked text.
void appendReceived(std::string &rxBuffer, std::string_view received);
