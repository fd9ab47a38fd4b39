#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/protocol/frame.h"

enum class PowerState { StandBy, CountDown, On, Cooling };
enum class LampMode { TwoLamp, Half1, Half2 };
enum class Reversal { Normal, TopBottom, LeftRight, Both };

// How one simulated projector behaves. Lamp hours run faster than real time (by default one
// lamp hour for every minute on) so that a demo shows them move.
struct ProjectorSettings {
    std::int64_t countDownMs = 5000;
    std::int64_t coolingMs = 10000;
    std::int64_t lampHourMs = 60000;
    int initialLampHours = 1234;
    std::string modelName = "KORU-SIM";  // the CR9 reply, followed by the address
    int address = 1;
    bool startOn = false;
    Reversal reversal = Reversal::Normal;
    // Inputs carrying a picture, as a bit mask: bit 0 is input 1.
    unsigned signalInputs = 0b011;
};

// One projector's state, moved on by the commands it takes and by time, which the caller
// passes in (milliseconds from any fixed start, never decreasing) so that the same inputs
// always give the same replies.
//
// Power: "C00" in stand-by starts the count down, after which the projector is on; "C01"
// while on or counting down starts cooling down (the lamps have been struck), after which it
// is in stand-by. "C00" while counting down, on or cooling and "C01" while cooling or in
// stand-by change nothing. Mutes and freeze act only while on and are cleared when it leaves
// on; input, lamp mode and reversal are settings and change in any state. Every operation
// code the panel can send is acknowledged, whether or not it changes anything.
class ProjectorModel {
public:
    // Temperatures in tenths of a degree Celsius.
    static constexpr int kAmbientTenths = 250;
    static constexpr int kSensor1MaxTenths = 385;
    static constexpr int kSensor2MaxTenths = 520;

    explicit ProjectorModel(ProjectorSettings settings = {});

    // Takes one command code at nowMs and returns the reply, carriage return included.
    std::string take(std::string_view code, std::int64_t nowMs);
    // Lets time pass without a command: count down, cooling, lamp hours, temperatures.
    void advanceTo(std::int64_t nowMs);

    PowerState power() const { return m_power; }
    int input() const { return m_input; }
    bool videoMute() const { return m_videoMute; }
    bool audioMute() const { return m_audioMute; }
    bool frozen() const { return m_frozen; }
    LampMode lampMode() const { return m_lampMode; }
    // Bit 0 lamp 1, bit 1 lamp 2.
    int litLamps() const;
    int lampHours() const;
    int temperatureTenths(int sensor) const;
    Reversal reversal() const { return m_reversal; }
    void setReversal(Reversal reversal) { m_reversal = reversal; }
    bool hasSignal() const;
    const ProjectorSettings &settings() const { return m_settings; }

    static bool isOperationCode(std::string_view code);

private:
    void apply(std::string_view code);
    std::string query(std::string_view code) const;
    void runFor(std::int64_t ms);
    void leaveOn();

    ProjectorSettings m_settings;
    std::int64_t m_now = 0;
    bool m_started = false;
    PowerState m_power = PowerState::StandBy;
    std::int64_t m_transitionLeftMs = 0;
    std::int64_t m_litMs = 0;
    // Micro-degrees, so that any split of time adds up to the same reading.
    std::int64_t m_sensorMicro[2];
    int m_input = 1;
    bool m_videoMute = false;
    bool m_audioMute = false;
    bool m_frozen = false;
    LampMode m_lampMode = LampMode::TwoLamp;
    Reversal m_reversal = Reversal::Normal;
};
