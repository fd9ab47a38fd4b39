#include "core/protocol/statusdecoder.h"

#include <algorithm>
#include <array>
#include <span>

#include "core/protocol/frame.h"
#include "core/protocol/rendering.h"

namespace {

struct Row {
    std::string_view key;
    std::string_view text;
};

constexpr std::array<Row, 11> kPowerStatus{{
    {" 0 0", " Power ON"},
    {" 8 0", " Stand by"},
    {" 4 0", " Count down"},
    {" 2 0", " Cooling down"},
    {" 1 0", " Power abnormality"},
    {" 0 8", " Temperature abnormality"},
    {" 2 8", " Temperature abnormality"},
    {" 8 8", " Temperature abnormality"},
    {" 0 2", " Key input prohibition"},
    {" 2 4", " Cooling down for power save"},
    {" 0 4", " Power save"},
}};

constexpr std::array<Row, 3> kInput{{
    {" 1", " Input 1"},
    {" 2", " Input 2"},
    {" 3", " Input 3"},
}};

constexpr std::array<Row, 4> kReversal{{
    {" 1 1", " Normally"},
    {" 1 0", " Top/Bottom reversal"},
    {" 0 1", " Left/Right reversal"},
    {" 0 0", " Top/Bottom , Left/Right reversal"},
}};

constexpr std::array<Row, 6> kMuteAndSignal{{
    {" 0 0", " Video & Audio mute OFF"},
    {" 0 1", " Video mute ON"},
    {" 0 2", " Audio mute ON"},
    {" 0 3", " Video & Audio mute ON"},
    {" 8 0", " No signal"},
    {" F F", " Stand by"},
}};

constexpr std::array<Row, 12> kLampMode{{
    {" 0 0", " All OFF : 2 Lamp mode"},
    {" 0 1", " No1 ON  : 2 Lamp mode"},
    {" 0 2", " No2 ON  : 2 Lamp mode"},
    {" 0 3", " No1,2 ON  : 2 Lamp mode"},
    {" 1 0", " All OFF : Half Lamp mode-1"},
    {" 1 1", " No1 ON  : Half Lamp mode-1"},
    {" 1 2", " No2 ON  : Half Lamp mode-1"},
    {" 1 3", " No1,2 ON  : Half Lamp mode-1"},
    {" 2 0", " All OFF : Half Lamp mode-2"},
    {" 2 1", " No1 ON  : Half Lamp mode-2"},
    {" 2 2", " No2 ON  : Half Lamp mode-2"},
    {" 2 3", " No1,2 ON  : Half Lamp mode-2"},
}};

// The first n characters, or all of the text when it is shorter.
std::string_view head(std::string_view text, std::size_t n)
{
    return text.substr(0, n);
}

// Places from..to of the text, counted from 1; fewer when the text ends earlier.
std::string_view places(std::string_view text, std::size_t from, std::size_t to)
{
    if (text.size() < from)
        return {};
    return text.substr(from - 1, to - from + 1);
}

std::optional<std::string> lookUp(std::span<const Row> table, std::string_view key)
{
    for (const Row &row : table) {
        if (row.key == key)
            return std::string(row.text);
    }
    return std::nullopt;
}

std::optional<std::string> lampTime(std::string_view r)
{
    std::string text(head(r, 19));
    text += " Hour Use";
    return text;
}

std::optional<std::string> temperatures(std::string_view r)
{
    std::string text = "  S1=";
    text += head(r, 10);
    text += " C  ,   S2= ";
    text += places(r, 15, 22);
    text += " C";
    return text;
}

std::optional<std::string> rawEcho(std::string_view r)
{
    return std::string(r);
}

// The replies that the status display echoes, as they came: r is the reply without its
// carriage return. Rendered place 2k is reply character k, so these pick the same characters.
std::optional<std::string> plainLampTime(std::string_view r)
{
    return " " + *lampTime(head(r, 9));
}

std::optional<std::string> plainTemperatures(std::string_view r)
{
    std::string text = " S1=";
    text += head(r, 5);
    text += " C, S2= ";
    text += places(r, 8, 11);
    text += " C";
    return text;
}

std::optional<std::string> plainEcho(std::string_view r)
{
    return " " + std::string(r);
}

// The reply forms the projector sends, r being the reply without its carriage return.
bool oneCharacter(std::string_view r)
{
    return r.size() == 1;
}

bool twoCharacters(std::string_view r)
{
    return r.size() == 2;
}

bool digits(std::string_view r)
{
    return !r.empty() && r.find_first_not_of("0123456789") == std::string_view::npos;
}

// Lamp hours: digits, no more than the status display shows.
bool hourDigits(std::string_view r)
{
    return r.size() <= 9 && digits(r);
}

// A temperature right-aligned in its field: spaces, a sign or none, digits, and a decimal
// part or none.
bool reading(std::string_view field)
{
    field.remove_prefix(std::min(field.find_first_not_of(' '), field.size()));
    if (!field.empty() && (field.front() == '-' || field.front() == '+'))
        field.remove_prefix(1);
    const auto point = field.find('.');
    const std::string_view whole = field.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{"0"} : field.substr(point + 1);
    return digits(whole) && digits(fraction);
}

// Two readings: the first in places 1 to 5, two spaces, the second in places 8 to 11.
bool twoReadings(std::string_view r)
{
    return r.size() == 11 && r.substr(5, 2) == "  " && reading(r.substr(0, 5)) &&
           reading(r.substr(7, 4));
}

// The model: printable text.
bool printableText(std::string_view r)
{
    if (r.empty())
        return false;
    for (const char c : r) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

struct Query {
    std::string_view code;
    std::optional<std::string> (*decode)(std::string_view r);
    // Whether a reply (without its carriage return) has the form the projector sends.
    bool (*wellFormed)(std::string_view r);
    // For the echoing queries; the others read the same either way.
    std::optional<std::string> (*plain)(std::string_view r) = nullptr;
};

// Tried in this order; lastCommand can equal at most one of them.
constexpr std::array<Query, 8> kQueries{{
    {"CR0", [](std::string_view r) { return lookUp(kPowerStatus, head(r, 4)); }, twoCharacters},
    {"CR1", [](std::string_view r) { return lookUp(kInput, head(r, 2)); }, oneCharacter},
    {"CR4", [](std::string_view r) { return lookUp(kReversal, head(r, 4)); }, twoCharacters},
    {"CR3", lampTime, hourDigits, plainLampTime},
    {"CR6", temperatures, twoReadings, plainTemperatures},
    {"CR9", rawEcho, printableText, plainEcho},
    {"CRA", [](std::string_view r) { return lookUp(kMuteAndSignal, head(r, 4)); }, twoCharacters},
    {"CR7", [](std::string_view r) { return lookUp(kLampMode, head(r, 4)); }, twoCharacters},
}};

bool isFrameOf(std::string_view lastCommand, std::string_view idPrefix, std::string_view code)
{
    return lastCommand.size() == idPrefix.size() + code.size() + 1 &&
           lastCommand.starts_with(idPrefix) &&
           lastCommand.substr(idPrefix.size(), code.size()) == code && lastCommand.back() == '\r';
}

}  // namespace

std::optional<std::string> decodeStatus(std::string_view rxdText, std::string_view lastCommand,
                                        std::string_view idPrefix)
{
    for (const Query &query : kQueries) {
        if (isFrameOf(lastCommand, idPrefix, query.code))
            return query.decode(rxdText);
    }
    return std::nullopt;
}

bool isStatusQuery(std::string_view code)
{
    for (const Query &query : kQueries) {
        if (query.code == code)
            return true;
    }
    return false;
}

std::optional<std::string> decodeReply(std::string_view reply, std::string_view lastCommand,
                                       std::string_view idPrefix)
{
    for (const Query &query : kQueries) {
        if (!isFrameOf(lastCommand, idPrefix, query.code))
            continue;
        std::string_view payload = reply;
        if (!payload.ends_with('\r'))
            return std::nullopt;
        payload.remove_suffix(1);
        if (!query.wellFormed(payload))
            return std::nullopt;
        std::optional<std::string> text =
            query.plain ? query.plain(payload) : query.decode(renderTraffic(reply));
        if (text && text->starts_with(' '))
            text->erase(0, 1);
        return text;
    }
    return std::nullopt;
}
