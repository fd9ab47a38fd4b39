#include "sim/core/simevent.h"

#include <cstdio>
#include <ctime>

#include "core/protocol/escaping.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> unescapeBytes(std::string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(text[i]);
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case 'r':
            bytes.push_back('\r');
            break;
        case 'n':
            bytes.push_back('\n');
            break;
        case 't':
            bytes.push_back('\t');
            break;
        case '\\':
            bytes.push_back('\\');
            break;
        case 'x': {
            const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes.push_back(static_cast<char>(high * 16 + low));
            i += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return bytes;
}

std::string formatTimestamp(std::int64_t timeUs)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(timeUs / 1000000),
                  static_cast<long long>(timeUs % 1000000));
    return text;
}

std::int64_t monotonicNowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::string formatLogLine(const SimEvent &event)
{
    std::string line = formatTimestamp(event.timeUs);
    switch (event.kind) {
    case SimEvent::Kind::Received:
        line += " RX ";
        line += event.prefix.empty() ? std::string("-") : escapeTraffic(event.prefix);
        line += ' ';
        line += escapeTraffic(event.code);
        break;
    case SimEvent::Kind::Replied:
        line += " TX " + std::to_string(event.projector) + ' ' + escapeTraffic(event.bytes);
        break;
    case SimEvent::Kind::Unasked:
        line += " UNASKED " + escapeTraffic(event.bytes);
        break;
    case SimEvent::Kind::Discarded:
        line += " DROP " + std::to_string(event.length) + ' ' + escapeTraffic(event.bytes);
        break;
    case SimEvent::Kind::Closed:
        line += " CLOSED";
        break;
    case SimEvent::Kind::Opened:
        line += " OPENED";
        break;
    }
    return line;
}
