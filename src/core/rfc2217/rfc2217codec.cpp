#include "core/rfc2217/rfc2217codec.h"

namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// The server's answers to our requests carry the request's code plus 100.
constexpr std::uint8_t kAnswerOffset = 100;
// Longer than any answer we look at (IAC SB 44 101 and four bytes of speed); the rest of a
// longer subnegotiation is dropped, and so is the subnegotiation.
constexpr std::size_t kMaxSub = 32;
// RFC 1143 loops are broken by never answering an option more often than this per direction.
constexpr std::uint8_t kMaxReplies = 2;

}  // namespace

Rfc2217Codec::Rfc2217Codec()
{
    send(kWill, kComPort);
    m_us[kComPort] = Side::WantYes;
}

std::string Rfc2217Codec::escape(std::string_view line)
{
    std::string wire;
    wire.reserve(line.size());
    for (char c : line) {
        wire += c;
        if (static_cast<std::uint8_t>(c) == kIac)
            wire += c;
    }
    return wire;
}

void Rfc2217Codec::request(std::uint8_t command, std::uint32_t value)
{
    m_output += {char(kIac), char(kSb), char(kComPort), char(command)};
    std::string bytes;
    if (command == kSetBaudRate) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += char((value >> shift) & 0xff);
    } else {
        bytes += char(value & 0xff);
    }
    m_output += escape(bytes);
    m_output += {char(kIac), char(kSe)};
}

void Rfc2217Codec::send(std::uint8_t verb, std::uint8_t option)
{
    m_output += {char(kIac), char(verb), char(option)};
}

std::string Rfc2217Codec::feed(std::string_view wire)
{
    std::string line;
    for (char c : wire) {
        const auto b = static_cast<std::uint8_t>(c);
        switch (m_state) {
        case State::Data:
            if (b == kIac)
                m_state = State::Command;
            else
                line += c;
            break;
        case State::Command:
            m_state = State::Data;
            if (b == kIac) {
                line += c;
                break;
            }
            m_heardTelnet = true;
            if (b == kWill || b == kWont || b == kDo || b == kDont) {
                m_verb = b;
                m_state = State::Option;
            } else if (b == kSb) {
                m_sub.clear();
                m_subOverflow = false;
                m_state = State::Sub;
            }
            // Any other command (NOP, GA, AYT...) means nothing to a serial line.
            break;
        case State::Option:
            negotiate(m_verb, b);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == kIac) {
                m_state = State::SubCommand;
            } else if (m_sub.size() < kMaxSub) {
                m_sub += c;
            } else {
                m_subOverflow = true;
            }
            break;
        case State::SubCommand:
            if (b == kSe) {
                subnegotiation();
                m_state = State::Data;
                break;
            }
            // IAC IAC is a data 255; IAC followed by anything else inside a subnegotiation is
            // malformed, and both bytes are dropped.
            if (b == kIac) {
                if (m_sub.size() < kMaxSub)
                    m_sub += c;
                else
                    m_subOverflow = true;
            }
            m_state = State::Sub;
            break;
        }
    }
    return line;
}

void Rfc2217Codec::negotiate(std::uint8_t verb, std::uint8_t option)
{
    const bool his = verb == kWill || verb == kWont;
    const bool positive = verb == kWill || verb == kDo;
    Side &side = his ? m_him[option] : m_us[option];
    std::uint8_t &replies = m_replies[option];
    // Both directions share one count: the low half for ours, the high half for his.
    const std::uint8_t shift = his ? 4 : 0;
    auto reply = [&](std::uint8_t answer) {
        const std::uint8_t sent = (replies >> shift) & 0x0f;
        if (sent >= kMaxReplies)
            return;
        replies = static_cast<std::uint8_t>((replies & ~(0x0f << shift)) | ((sent + 1) << shift));
        send(answer, option);
    };
    const bool wanted =
        option == kBinary || option == kSuppressGoAhead || (option == kComPort && !his);

    if (positive) {
        if (side == Side::No) {
            if (wanted) {
                side = Side::Yes;
                reply(his ? kDo : kWill);
            } else {
                reply(his ? kDont : kWont);
            }
        } else {
            side = Side::Yes;  // the answer to our own request, or a repeat
        }
    } else {
        if (side == Side::Yes)
            reply(his ? kDont : kWont);
        side = Side::No;
    }
    if (option == kComPort && !his)
        m_comPort = side == Side::Yes ? Agreement::Agreed : Agreement::Refused;
}

void Rfc2217Codec::subnegotiation()
{
    if (m_subOverflow || m_sub.size() < 3 || static_cast<std::uint8_t>(m_sub[0]) != kComPort)
        return;
    const auto code = static_cast<std::uint8_t>(m_sub[1]);
    if (code < kAnswerOffset + kSetBaudRate || code > kAnswerOffset + kSetStopSize)
        return;  // notifications of the line and modem state, flow control: not used here
    const std::string_view value = std::string_view(m_sub).substr(2);
    const std::uint8_t command = code - kAnswerOffset;
    // Bytes past the value are ignored: a server built for 64-bit longs sends SET-BAUDRATE's
    // four bytes followed by four zeros.
    const std::size_t length = command == kSetBaudRate ? 4 : 1;
    std::uint32_t number = 0;
    for (char c : value.substr(0, length))
        number = (number << 8) | static_cast<std::uint8_t>(c);
    m_answers.push_back({command, number, value.size() < length});
}
