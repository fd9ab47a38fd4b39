#include "sim/core/projectormodel.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"

namespace {

// What each operation code does to the model; codes the panel sends that only move the menu,
// the lens or the picture are acknowledged and change nothing modelled here.
enum class Action {
    PowerOn,
    PowerOff,
    Input1,
    Input2,
    Input3,
    AudioMuteOn,
    AudioMuteOff,
    VideoMuteOn,
    VideoMuteOff,
    FreezeOn,
    FreezeOff,
    TwoLamp,
    HalfLamp1,
    HalfLamp2,
};

struct ActionRow {
    std::string_view code;
    Action action;
};

constexpr std::array<ActionRow, 14> kActions{{
    {"C00", Action::PowerOn},
    {"C01", Action::PowerOff},
    {"C05", Action::Input1},
    {"C06", Action::Input2},
    {"C07", Action::Input3},
    {"C0B", Action::AudioMuteOn},
    {"C0C", Action::AudioMuteOff},
    {"C0D", Action::VideoMuteOn},
    {"C0E", Action::VideoMuteOff},
    {"C43", Action::FreezeOn},
    {"C44", Action::FreezeOff},
    {"C70", Action::TwoLamp},
    {"C71", Action::HalfLamp1},
    {"C72", Action::HalfLamp2},
}};

// Heating while the lamps are lit and cooling otherwise, in micro-degrees per millisecond:
// sensor 1 rises 0.1 and sensor 2 0.2 degrees a second, both fall 0.1 a second.
constexpr std::array<std::int64_t, 2> kRiseMicroPerMs{100, 200};
constexpr std::int64_t kFallMicroPerMs = 100;
constexpr std::int64_t kMicroPerTenth = 100000;
constexpr std::array<int, 2> kSensorMaxTenths{ProjectorModel::kSensor1MaxTenths,
                                              ProjectorModel::kSensor2MaxTenths};
constexpr int kMaxLampHours = 99999;

std::string twoDigits(int first, int second)
{
    return {static_cast<char>('0' + first), static_cast<char>('0' + second)};
}

}  // namespace

ProjectorModel::ProjectorModel(ProjectorSettings settings)
    : m_settings(std::move(settings)),
      m_sensorMicro{kAmbientTenths * kMicroPerTenth, kAmbientTenths * kMicroPerTenth},
      m_reversal(m_settings.reversal)
{
    if (m_settings.startOn)
        m_power = PowerState::On;
}

bool ProjectorModel::isOperationCode(std::string_view code)
{
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.code == code && !code.starts_with("CR"))
            return true;
    }
    for (const HoldButton &button : kHoldButtons) {
        if (button.command == code)
            return true;
    }
    return code == kSelectReleasedCommand;
}

std::string ProjectorModel::take(std::string_view code, std::int64_t nowMs)
{
    advanceTo(nowMs);
    if (isOperationCode(code)) {
        apply(code);
        return std::string(kAckReply);
    }
    std::string reply = query(code);
    if (reply.empty())
        return std::string(kNakReply);
    reply.push_back('\r');
    return reply;
}

void ProjectorModel::advanceTo(std::int64_t nowMs)
{
    if (nowMs <= m_now)
        return;
    runFor(nowMs - m_now);
    m_now = nowMs;
}

void ProjectorModel::runFor(std::int64_t ms)
{
    while (ms > 0) {
        const bool inTransition =
            m_power == PowerState::CountDown || m_power == PowerState::Cooling;
        const std::int64_t step = inTransition ? std::min(ms, m_transitionLeftMs) : ms;
        const bool lit = m_power == PowerState::On;
        for (std::size_t sensor = 0; sensor < 2; ++sensor) {
            std::int64_t &micro = m_sensorMicro[sensor];
            if (lit) {
                micro = std::min(micro + kRiseMicroPerMs[sensor] * step,
                                 kSensorMaxTenths[sensor] * kMicroPerTenth);
            } else {
                micro = std::max(micro - kFallMicroPerMs * step, kAmbientTenths * kMicroPerTenth);
            }
        }
        if (lit)
            m_litMs += step;
        if (inTransition) {
            m_transitionLeftMs -= step;
            if (m_transitionLeftMs == 0) {
                if (m_power == PowerState::CountDown)
                    m_power = PowerState::On;
                else
                    m_power = PowerState::StandBy;
            }
        }
        ms -= step;
    }
}

void ProjectorModel::leaveOn()
{
    m_videoMute = false;
    m_audioMute = false;
    m_frozen = false;
}

void ProjectorModel::apply(std::string_view code)
{
    const auto row = std::find_if(kActions.begin(), kActions.end(),
                                  [code](const ActionRow &r) { return r.code == code; });
    if (row == kActions.end())
        return;
    const bool on = m_power == PowerState::On;
    switch (row->action) {
    case Action::PowerOn:
        if (m_power == PowerState::StandBy) {
            m_power = PowerState::CountDown;
            m_transitionLeftMs = m_settings.countDownMs;
            // A zero count down still passes through the state, for the next moment of time.
            if (m_transitionLeftMs <= 0)
                m_power = PowerState::On;
        }
        break;
    case Action::PowerOff:
        if (m_power == PowerState::On || m_power == PowerState::CountDown) {
            leaveOn();
            m_power = PowerState::Cooling;
            m_transitionLeftMs = m_settings.coolingMs;
            if (m_transitionLeftMs <= 0)
                m_power = PowerState::StandBy;
        }
        break;
    case Action::Input1:
    case Action::Input2:
    case Action::Input3:
        m_input = 1 + static_cast<int>(row->action) - static_cast<int>(Action::Input1);
        break;
    case Action::AudioMuteOn:
    case Action::AudioMuteOff:
        if (on)
            m_audioMute = row->action == Action::AudioMuteOn;
        break;
    case Action::VideoMuteOn:
    case Action::VideoMuteOff:
        if (on)
            m_videoMute = row->action == Action::VideoMuteOn;
        break;
    case Action::FreezeOn:
    case Action::FreezeOff:
        if (on)
            m_frozen = row->action == Action::FreezeOn;
        break;
    case Action::TwoLamp:
        m_lampMode = LampMode::TwoLamp;
        break;
    case Action::HalfLamp1:
        m_lampMode = LampMode::Half1;
        break;
    case Action::HalfLamp2:
        m_lampMode = LampMode::Half2;
        break;
    }
}

int ProjectorModel::litLamps() const
{
    if (m_power != PowerState::On)
        return 0;
    switch (m_lampMode) {
    case LampMode::TwoLamp:
        return 3;
    case LampMode::Half1:
        return 1;
    case LampMode::Half2:
        return 2;
    }
    return 0;
}

int ProjectorModel::lampHours() const
{
    const std::int64_t hourMs = std::max<std::int64_t>(m_settings.lampHourMs, 1);
    return static_cast<int>(
        std::min<std::int64_t>(m_settings.initialLampHours + m_litMs / hourMs, kMaxLampHours));
}

int ProjectorModel::temperatureTenths(int sensor) const
{
    return static_cast<int>(m_sensorMicro[sensor == 2 ? 1 : 0] / kMicroPerTenth);
}

bool ProjectorModel::hasSignal() const
{
    return (m_settings.signalInputs >> (m_input - 1)) & 1u;
}

// The reply to a status query without its carriage return, or empty for a code the projector
// does not know. Each is laid out for the panel's decoding, which reads reply character k at
// place 2k of the rendered text.
std::string ProjectorModel::query(std::string_view code) const
{
    char text[32];
    if (code == "CR0") {
        switch (m_power) {
        case PowerState::On:
            return "00";
        case PowerState::StandBy:
            return "80";
        case PowerState::CountDown:
            return "40";
        case PowerState::Cooling:
            return "20";
        }
    }
    if (code == "CR1")
        return std::string(1, static_cast<char>('0' + m_input));
    if (code == "CR3") {
        std::snprintf(text, sizeof text, "%05d", lampHours());
        return text;
    }
    if (code == "CR4") {
        switch (m_reversal) {
        case Reversal::Normal:
            return "11";
        case Reversal::TopBottom:
            return "10";
        case Reversal::LeftRight:
            return "01";
        case Reversal::Both:
            return "00";
        }
    }
    if (code == "CR6") {
        // The panel shows reply characters 1 to 5 and 8 to 11: the first reading right-aligned
        // in five, two spaces, the second in four.
        const int first = std::clamp(temperatureTenths(1), 0, 9999);
        const int second = std::clamp(temperatureTenths(2), 0, 999);
        std::snprintf(text, sizeof text, "%3d.%d  %2d.%d", first / 10, first % 10, second / 10,
                      second % 10);
        return text;
    }
    if (code == "CR7") {
        const int mode = m_lampMode == LampMode::TwoLamp ? 0
                         : m_lampMode == LampMode::Half1 ? 1
                                                         : 2;
        return twoDigits(mode, litLamps());
    }
    if (code == "CR9") {
        std::snprintf(text, sizeof text, " %03d", std::clamp(m_settings.address, 0, 999));
        return m_settings.modelName + text;
    }
    if (code == "CRA") {
        if (m_power != PowerState::On)
            return "FF";
        if (!hasSignal())
            return "80";
        return twoDigits(0, (m_videoMute ? 1 : 0) | (m_audioMute ? 2 : 0));
    }
    return {};
}
