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

// Appends received text to the receive buffer, keeping at most its first kMaxRenderedChars
// characters: what arrives beyond them is dropped until the buffer is next emptied, so memory
// and time stay bounded under an endless stream of unasked text.
void appendReceived(std::string &rxBuffer, std::string_view received);

// The receive buffer with its rendering. Received text is only ever added to the end of the
// buffer (as appendReceived adds it) or the buffer emptied, so the rendering is extended by the
// rendering of what was added: a receive event costs the same however much came before it.
class ReceiveBuffer {
public:
    // Adds received text as appendReceived does; returns the rendering of what was kept, which
    // is empty once the buffer is full.
    std::string_view append(std::string_view received);
    void clear();

    const std::string &text() const { return m_text; }
    // renderTraffic(text())
    const std::string &rendering() const { return m_rendering; }

private:
    std::string m_text;
    std::string m_rendering = " ";
};
