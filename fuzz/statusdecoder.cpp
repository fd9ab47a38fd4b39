// decodeStatus on any input, split into lastCommand, idPrefix and the RXD text: the first two
// bytes give the lengths of the first two (modulo 16 and 8), the rest is the RXD text. The
// text is decoded as it is and as the RXD display would show it (its rendering), since the
// decoder only ever sees renderings in the panel.
//
// decodeReply is given the input as the reply itself: it gives a text only for a reply of the
// form the projector sends.
//
// Properties: a result comes only for one of the eight status queries framed under idPrefix;
// each rule shapes its result as documented; a printable RXD text gives a printable result.

#include "core/protocol/statusdecoder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "core/protocol/frame.h"
#include "core/protocol/rendering.h"

namespace {

constexpr std::array<std::string_view, 8> kQueries{"CR0", "CR1", "CR3", "CR4",
                                                   "CR6", "CR7", "CR9", "CRA"};

// The query whose frame under idPrefix lastCommand is, if any.
std::optional<std::string_view> queryOf(std::string_view lastCommand, std::string_view idPrefix)
{
    for (const std::string_view query : kQueries) {
        if (lastCommand == buildFrame(idPrefix, query))
            return query;
    }
    return std::nullopt;
}

void checkDecoding(std::string_view rxd, std::string_view lastCommand, std::string_view idPrefix)
{
    const std::optional<std::string> status = decodeStatus(rxd, lastCommand, idPrefix);
    const std::optional<std::string_view> query = queryOf(lastCommand, idPrefix);
    if (!query) {
        KORU_CHECK(!status);
        return;
    }
    // The slicing rules always give a text; lookups only on a match.
    if (*query == "CR3" || *query == "CR6" || *query == "CR9")
        KORU_CHECK(status.has_value());
    if (!status)
        return;

    if (*query == "CR9") {
        KORU_CHECK(*status == rxd);
    } else if (*query == "CR3") {
        KORU_CHECK(*status == std::string(rxd.substr(0, 19)) + " Hour Use");
    } else if (*query == "CR6") {
        KORU_CHECK(status->starts_with("  S1=") && status->ends_with(" C"));
        KORU_CHECK(status->size() <= 5 + 10 + 12 + 8 + 2);
    } else {
        // A lookup row's text; every one begins with a space and is short.
        KORU_CHECK(status->starts_with(' ') && status->size() <= 40);
        KORU_CHECK(isPrintableAscii(*status));
    }
    if (isPrintableAscii(rxd))
        KORU_CHECK(isPrintableAscii(*status));
}

// The form koru-ctl prints: the same rows, and the echoing queries' characters as they came,
// only for a reply of the form the projector sends, carriage return and all.
void checkReply(std::string_view reply, std::string_view lastCommand, std::string_view idPrefix)
{
    const std::optional<std::string> text = decodeReply(reply, lastCommand, idPrefix);
    const std::optional<std::string_view> query = queryOf(lastCommand, idPrefix);
    if (query)
        KORU_CHECK(isStatusQuery(*query));
    if (!query || !reply.ends_with('\r')) {
        KORU_CHECK(!text);
        return;
    }
    if (!text)
        return;
    const std::string_view payload = reply.substr(0, reply.size() - 1);
    KORU_CHECK(isPrintableAscii(*text));
    if (*query == "CR9") {
        KORU_CHECK(*text == payload);
    } else if (*query == "CR3") {
        KORU_CHECK(*text == std::string(payload) + " Hour Use");
        KORU_CHECK(payload.size() <= 9 &&
                   payload.find_first_not_of("0123456789") == std::string_view::npos);
    } else if (*query == "CR6") {
        KORU_CHECK(payload.size() == 11);
        KORU_CHECK(*text == "S1=" + std::string(payload.substr(0, 5)) +
                                " C, S2= " + std::string(payload.substr(7, 4)) + " C");
    } else {
        // A row's key exactly: what the status display shows for the same reply.
        const std::optional<std::string> status =
            decodeStatus(renderTraffic(reply), lastCommand, idPrefix);
        KORU_CHECK(status.has_value() && " " + *text == *status);
        KORU_CHECK(payload.size() <= 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::size_t commandLength = data[0] % 16;
    const std::size_t prefixLength = data[1] % 8;
    input.remove_prefix(2);
    const std::string_view lastCommand = input.substr(0, commandLength);
    input.remove_prefix(lastCommand.size());
    const std::string_view idPrefix = input.substr(0, prefixLength);
    input.remove_prefix(idPrefix.size());

    checkDecoding(input, lastCommand, idPrefix);
    checkDecoding(renderTraffic(input), lastCommand, idPrefix);
    checkReply(input, lastCommand, idPrefix);
    return 0;
}
