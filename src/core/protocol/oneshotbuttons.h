#pragma once

#include <array>
#include <string_view>

// The buttons that send one frame per click. MENU "ON" and "A-IMAGE" also set the arrow pad
// up for the projector's menu.
struct OneShotButton {
    enum class Extra { None, MenuArrowPad };

    std::string_view control;
    std::string_view heading;
    std::string_view caption;
    std::string_view code;
    Extra extra = Extra::None;
};

inline constexpr std::array<OneShotButton, 30> kOneShotButtons{{
    {"Command17", "POWER", "ON", "C00"},
    {"Command18", "POWER", "OFF", "C01"},
    {"Command27", "INPUT MODE", "1", "C05"},
    {"Command28", "INPUT MODE", "2", "C06"},
    {"Command29", "INPUT MODE", "3", "C07"},
    {"Command23", "MENU", "ON", "C1C", OneShotButton::Extra::MenuArrowPad},
    {"Command24", "MENU", "OFF", "C1D"},
    {"Command19", "SOUND MUTE", "ON", "C0B"},
    {"Command20", "SOUND MUTE", "OFF", "C0C"},
    {"Command21", "NO SHOW", "ON", "C0D"},
    {"Command22", "NO SHOW", "OFF", "C0E"},
    {"Command25", "FREEZE", "ON", "C43"},
    {"Command26", "FREEZE", "OFF", "C44"},
    {"Command31", "AV Size", "Regular", "C0F"},
    {"Command32", "AV Size", "Wide", "C10"},
    {"Command13", "", "A-IMAGE", "C89", OneShotButton::Extra::MenuArrowPad},
    {"Command30", "", "IMAGE", "C27"},
    {"Command14", "", "P-TIMER", "C8A"},
    {"Command3", "", "DISPLAY CLEAR", "C1E"},
    {"Command56", "LAMP SELECT", "2 LAMP", "C70"},
    {"Command57", "LAMP SELECT", "Half 1", "C71"},
    {"Command58", "LAMP SELECT", "Half 2", "C72"},
    {"Command44", "", "STATUS", "CR0"},
    {"Command45", "", "MODE", "CR1"},
    {"Command46", "", "L-TIME", "CR3"},
    {"Command47", "", "SETTING", "CR4"},
    {"Command54", "", "TEMP", "CR6"},
    {"Command55", "", "L-MODE", "CR7"},
    {"Command38", "", "PC type", "CR9"},
    {"Command12", "", "STATUS 2", "CRA"},
}};

// The repeat interval and arrow mode that MENU "ON" and "A-IMAGE" leave behind.
inline constexpr int kMenuArrowRepeatMs = 200;
inline constexpr unsigned char kMenuArrowMode = 1;
