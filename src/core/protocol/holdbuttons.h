#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The buttons that send their command on the press and repeat it until the release. Arrow
// buttons keep the repeat interval last set and take their time-outs from the arrow mode.
struct HoldButton {
    enum class Kind { Ordinary, Arrow, DigitalZoom };

    std::string_view control;
    std::string_view name;  // what koru-ctl calls it: stable, lower case, from its function
    std::string_view heading;
    std::string_view caption;
    std::uint8_t code;  // what heldKey holds while it is down
    std::string_view command;
    Kind kind;
    int repeatMs = 0;          // Timer1 on the press (ordinary and digital zoom)
    int replyTimeoutMs = 0;    // Timer2 on the press
    int displayTimeoutMs = 0;  // Timer4 on the press
};

inline constexpr std::array<HoldButton, 17> kHoldButtons{{
    {"Command1", "vol-up", "VOL", "+", 1, "C09", HoldButton::Kind::Ordinary, 250, 200, 245},
    {"Command2", "vol-down", "VOL", "-", 2, "C0A", HoldButton::Kind::Ordinary, 250, 200, 245},
    {"Command5", "arrow-up", "", "\u2191", 3, "C3C", HoldButton::Kind::Arrow},
    {"Command7", "arrow-down", "", "\u2193", 4, "C3D", HoldButton::Kind::Arrow},
    {"Command9", "arrow-left", "", "\u2190", 5, "C3B", HoldButton::Kind::Arrow},
    {"Command8", "arrow-right", "", "\u2192", 6, "C3A", HoldButton::Kind::Arrow},
    {"Command15", "zoom-in", "Zoom", "+", 7, "C47", HoldButton::Kind::Ordinary, 50, 25, 25},
    {"Command35", "zoom-out", "Zoom", "-", 8, "C46", HoldButton::Kind::Ordinary, 50, 25, 25},
    {"Command36", "focus-up", "Focus", "+", 9, "C4B", HoldButton::Kind::Ordinary, 50, 25, 25},
    {"Command37", "focus-down", "Focus", "-", 10, "C4A", HoldButton::Kind::Ordinary, 50, 25, 25},
    {"Command6", "select", "", "SELECT", 13, "C3F", HoldButton::Kind::Ordinary, 500, 200, 245},
    {"Command48", "d-zoom-in", "D.Zoom", "+", 17, "C30", HoldButton::Kind::DigitalZoom, 250, 200,
     245},
    {"Command49", "d-zoom-out", "D.Zoom", "-", 18, "C31", HoldButton::Kind::DigitalZoom, 250, 200,
     245},
    {"Command50", "keystone-up", "Keystone", "+", 19, "C8E", HoldButton::Kind::Ordinary, 250, 200,
     245},
    {"Command51", "keystone-down", "Keystone", "-", 20, "C8F", HoldButton::Kind::Ordinary, 250, 200,
     245},
    {"Command59", "lens-shift-up", "LENS SHIFT", "\u2191", 21, "C5D", HoldButton::Kind::Ordinary,
     50, 25, 25},
    {"Command62", "lens-shift-down", "LENS SHIFT", "\u2193", 22, "C5E", HoldButton::Kind::Ordinary,
     50, 25, 25},
}};

// What the release of "SELECT" leaves in heldKey, and the command the repeat table pairs with
// it. Every press stores its own code before the repeat timer starts, so it is never sent.
inline constexpr std::uint8_t kSelectReleasedCode = 14;
inline constexpr std::string_view kSelectReleasedCommand = "C3E";
inline constexpr std::string_view kSelectControl = "Command6";

// The time-outs an arrow press sets, by arrow mode; other modes leave them as they are.
struct ArrowTimeouts {
    std::uint8_t arrowMode;
    int replyTimeoutMs;
    int displayTimeoutMs;
};

inline constexpr std::array<ArrowTimeouts, 2> kArrowTimeouts{{
    {1, 150, 190},
    {3, 5, 5},
}};

// A digital zoom release leaves the arrow pad repeating fast.
inline constexpr int kDigitalZoomArrowRepeatMs = 5;
inline constexpr std::uint8_t kDigitalZoomArrowMode = 3;

// Timer1's interval at start-up, which the arrow pad repeats at until a menu button or a
// digital zoom release sets another.
inline constexpr int kDesignRepeatMs = 200;

// The time-outs every release restores.
inline constexpr int kNormalReplyTimeoutMs = 500;
inline constexpr int kNormalDisplayTimeoutMs = 1000;

// The repeat table: the command each tick sends for the code in heldKey.
std::optional<std::string_view> repeatCommand(std::uint8_t heldKey);
const HoldButton *findHoldButton(std::string_view control);
