// Differential: a simulated projector driven into any state, asked each status query; its reply,
// rendered as the RXD display shows it and decoded as the panel decodes it, must say what the
// projector's state is. The simulator and the decoder were written from the same description
// of the line, so a disagreement is a fault in one of them.
//
// Input: a settings byte (start on, picture reversal, which inputs carry a signal), an address
// byte (no prefix, or projector 1 to 4 addressed), then steps of two bytes: an operation code
// taken, time passing (the byte times 100 ms), or a status query answered and checked.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "check.h"
#include "core/protocol/frame.h"
#include "core/protocol/rendering.h"
#include "core/protocol/statusdecoder.h"
#include "sim/core/projectormodel.h"

namespace {

constexpr std::string_view kOperations[] = {"C00", "C01", "C05", "C06", "C07", "C0B", "C0C",
                                            "C0D", "C0E", "C43", "C44", "C70", "C71", "C72"};
constexpr std::string_view kQueries[] = {"CR0", "CR1", "CR3", "CR4", "CR6", "CR7", "CR9", "CRA"};

std::string powerText(PowerState power)
{
    switch (power) {
    case PowerState::On:
        return " Power ON";
    case PowerState::StandBy:
        return " Stand by";
    case PowerState::CountDown:
        return " Count down";
    case PowerState::Cooling:
        return " Cooling down";
    }
    return {};
}

std::string reversalText(Reversal reversal)
{
    switch (reversal) {
    case Reversal::Normal:
        return " Normally";
    case Reversal::TopBottom:
        return " Top/Bottom reversal";
    case Reversal::LeftRight:
        return " Left/Right reversal";
    case Reversal::Both:
        return " Top/Bottom , Left/Right reversal";
    }
    return {};
}

std::string muteText(const ProjectorModel &model)
{
    if (model.power() != PowerState::On)
        return " Stand by";
    if (!model.hasSignal())
        return " No signal";
    constexpr std::string_view texts[] = {" Video & Audio mute OFF", " Video mute ON",
                                          " Audio mute ON", " Video & Audio mute ON"};
    return std::string(texts[(model.videoMute() ? 1 : 0) | (model.audioMute() ? 2 : 0)]);
}

std::string lampText(const ProjectorModel &model)
{
    constexpr std::string_view lit[] = {
        " All OFF : ", " No1 ON  : ", " No2 ON  : ", " No1,2 ON  : "};
    constexpr std::string_view modes[] = {"2 Lamp mode", "Half Lamp mode-1", "Half Lamp mode-2"};
    const int mode = model.lampMode() == LampMode::TwoLamp ? 0
                     : model.lampMode() == LampMode::Half1 ? 1
                                                           : 2;
    return std::string(lit[model.litLamps()]) + std::string(modes[mode]);
}

// The reply characters back from their rendering: character k sits at place 2k + 1.
std::string unrendered(std::string_view rendering)
{
    std::string text;
    for (std::size_t at = 1; at < rendering.size(); at += 2)
        text.push_back(rendering[at]);
    return text;
}

// Tenths of a degree from "ddd.d" with spaces in front, -1 when it is not of that form.
int tenths(const std::string &reading)
{
    char *end = nullptr;
    const double value = std::strtod(reading.c_str(), &end);
    if (end == reading.c_str() || *end != '\0')
        return -1;
    return static_cast<int>(std::lround(value * 10));
}

void check(ProjectorModel &model, std::string_view query, const std::string &prefix,
           std::int64_t nowMs)
{
    // Taking the query brings the projector up to nowMs: its state after is what it answered.
    const std::string reply = model.take(query, nowMs);
    const std::string rxd = renderTraffic(reply);
    const auto status = decodeStatus(rxd, buildFrame(prefix, query), prefix);
    KORU_CHECK(status.has_value());
    if (query == "CR0") {
        KORU_CHECK(*status == powerText(model.power()));
    } else if (query == "CR1") {
        KORU_CHECK(*status == " Input " + std::to_string(model.input()));
    } else if (query == "CR4") {
        KORU_CHECK(*status == reversalText(model.reversal()));
    } else if (query == "CRA") {
        KORU_CHECK(*status == muteText(model));
    } else if (query == "CR7") {
        KORU_CHECK(*status == lampText(model));
    } else if (query == "CR3") {
        char hours[8];
        std::snprintf(hours, sizeof hours, "%05d", model.lampHours());
        KORU_CHECK(status->ends_with(" Hour Use"));
        KORU_CHECK(unrendered(status->substr(0, 10)) == hours);
    } else if (query == "CR6") {
        // "  S1=" then the first reading, rendered, " C  ,   S2= " then the second.
        const std::string_view text = *status;
        const auto second = text.find("S2= ");
        KORU_CHECK(text.starts_with("  S1=") && second != std::string_view::npos);
        const std::string first = unrendered(text.substr(5, 10));
        const std::string other = unrendered(text.substr(second + 4, 8));
        KORU_CHECK(tenths(first) == model.temperatureTenths(1));
        KORU_CHECK(tenths(other) == model.temperatureTenths(2));
    } else if (query == "CR9") {
        const std::string &name = model.settings().modelName;
        KORU_CHECK(unrendered(*status).starts_with(name));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    ProjectorSettings settings;
    settings.startOn = data[0] & 1;
    settings.reversal = static_cast<Reversal>((data[0] >> 1) & 3);
    settings.signalInputs = (data[0] >> 3) & 7;
    const int address = data[1] % 5;
    const std::string prefix = address == 0 ? std::string() : "A00" + std::to_string(address);
    settings.address = address == 0 ? 1 : address;
    ProjectorModel model(settings);
    std::int64_t nowMs = 0;
    for (std::size_t at = 2; at + 1 < size; at += 2) {
        const std::uint8_t argument = data[at + 1];
        switch (data[at] % 3) {
        case 0: {
            const std::string_view code = kOperations[argument % std::size(kOperations)];
            model.take(code, nowMs);
            break;
        }
        case 1:
            nowMs += std::int64_t{argument} * 100;
            break;
        default:
            check(model, kQueries[argument % std::size(kQueries)], prefix, nowMs);
            break;
        }
    }
    return 0;
}
