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

constexpr std::size_t kToTheEnd = std::string_view::npos;

// Places from..to of the text, counted from 1; fewer when the text ends earlier.
std::string_view places(std::string_view text, std::size_t from, std::size_t to)
{
    if (text.size() < from)
        return {};
    return text.substr(from - 1, to == kToTheEnd ? kToTheEnd : to - from + 1);
}

std::optional<std::string> lookUp(std::span<const Row> table, std::string_view key)
{
    for (const Row &row : table) {
        if (row.key == key)
            return std::string(row.text);
    }
    return std::nullopt;
}

// The replies that the status display echoes rather than looks up: places of the RXD
// display's text, between texts of the echo's own. The same places serve a reply as it came
// (decodeReply, as a script reads it): rendered place 2k is reply character k while all before
// it are printable, as they are in every reply of the form the projector sends, so places
// from..to hold reply characters (from + 1) / 2 to to / 2, given as they came, not spaced out.
struct Field {
    std::size_t from;
    std::size_t to;
};

struct Echo {
    std::size_t fieldCount;
    std::array<Field, 2> fields;
    // The text before the first field and after each field: as the status display shows it,
    // and as the plain reply reads.
    std::array<std::string_view, 3> display;
    std::array<std::string_view, 3> plain;
};

constexpr Echo kLampTime{1, {{{1, 19}}}, {"", " Hour Use"}, {" ", " Hour Use"}};
constexpr Echo kTemperatures{
    2, {{{1, 10}, {15, 22}}}, {"  S1=", " C  ,   S2= ", " C"}, {" S1=", " C, S2= ", " C"}};
constexpr Echo kModel{1, {{{1, kToTheEnd}}}, {}, {" "}};

// text is the RXD display's text, or for the plain form the reply without its carriage return.
std::string echoed(const Echo &echo, std::string_view text, bool plain)
{
    const std::array<std::string_view, 3> &glue = plain ? echo.plain : echo.display;
    std::string out(glue[0]);
    for (std::size_t i = 0; i < echo.fieldCount; ++i) {
        const Field field = echo.fields[i];
        out += plain ? places(text, (field.from + 1) / 2,
                              field.to == kToTheEnd ? kToTheEnd : field.to / 2)
                     : places(text, field.from, field.to);
        out += glue[i + 1];
    }
    return out;
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
    // Looks the reply up in a table of rows, from the RXD display's text.
    std::optional<std::string> (*decode)(std::string_view rxdText);
    // Whether a reply (without its carriage return) has the form the projector sends.
    bool (*wellFormed)(std::string_view r);
    // For the echoing queries, instead of decode.
    const Echo *echo = nullptr;
};

// Tried in this order; lastCommand can equal at most one of them.
constexpr std::array<Query, 8> kQueries{{
    {"CR0", [](std::string_view r) { return lookUp(kPowerStatus, head(r, 4)); }, twoCharacters},
    {"CR1", [](std::string_view r) { return lookUp(kInput, head(r, 2)); }, oneCharacter},
    {"CR4", [](std::string_view r) { return lookUp(kReversal, head(r, 4)); }, twoCharacters},
    {"CR3", nullptr, hourDigits, &kLampTime},
    {"CR6", nullptr, twoReadings, &kTemperatures},
    {"CR9", nullptr, printableText, &kModel},
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
            return query.echo ? echoed(*query.echo, rxdText, false) : query.decode(rxdText);
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
            query.echo ? echoed(*query.echo, payload, true) : query.decode(renderTraffic(reply));
        if (text && text->starts_with(' '))
            text->erase(0, 1);
        return text;
    }
    return std::nullopt;
}
