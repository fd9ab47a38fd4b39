#pragma once

#include <array>
#include <string_view>

// The buttons that send one frame per click. MENU "ON" and "A-IMAGE" also set the arrow pad
// up for the projector's menu.
struct OneShotButton {
    enum class Extra { None, MenuArrowPad };

    std::string_view control;
    std::string_view name;  // what koru-ctl calls it: stable, lower case, from its function
    std::string_view heading;
    std::string_view caption;
    std::string_view code;
    Extra extra = Extra::None;
};

inline constexpr std::array<OneShotButton, 30> kOneShotButtons{{
    {"Command17", "power-on", "POWER", "ON", "C00"},
    {"Command18", "power-off", "POWER", "OFF", "C01"},
    {"Command27", "input-1", "INPUT MODE", "1", "C05"},
    {"Command28", "input-2", "INPUT MODE", "2", "C06"},
    {"Command29", "input-3", "INPUT MODE", "3", "C07"},
    {"Command23", "menu-on", "MENU", "ON", "C1C", OneShotButton::Extra::MenuArrowPad},
    {"Command24", "menu-off", "MENU", "OFF", "C1D"},
    {"Command19", "sound-mute-on", "SOUND MUTE", "ON", "C0B"},
    {"Command20", "sound-mute-off", "SOUND MUTE", "OFF", "C0C"},
    {"Command21", "no-show-on", "NO SHOW", "ON", "C0D"},
    {"Command22", "no-show-off", "NO SHOW", "OFF", "C0E"},
    {"Command25", "freeze-on", "FREEZE", "ON", "C43"},
    {"Command26", "freeze-off", "FREEZE", "OFF", "C44"},
    {"Command31", "av-size-regular", "AV Size", "Regular", "C0F"},
    {"Command32", "av-size-wide", "AV Size", "Wide", "C10"},
    {"Command13", "a-image", "", "A-IMAGE", "C89", OneShotButton::Extra::MenuArrowPad},
    {"Command30", "image", "", "IMAGE", "C27"},
    {"Command14", "p-timer", "", "P-TIMER", "C8A"},
    {"Command3", "display-clear", "", "DISPLAY CLEAR", "C1E"},
    {"Command56", "lamp-2", "LAMP SELECT", "2 LAMP", "C70"},
    {"Command57", "lamp-half-1", "LAMP SELECT", "Half 1", "C71"},
    {"Command58", "lamp-half-2", "LAMP SELECT", "Half 2", "C72"},
    {"Command44", "status", "", "STATUS", "CR0"},
    {"Command45", "mode", "", "MODE", "CR1"},
    {"Command46", "lamp-time", "", "L-TIME", "CR3"},
    {"Command47", "setting", "", "SETTING", "CR4"},
    {"Command54", "temp", "", "TEMP", "CR6"},
    {"Command55", "lamp-mode", "", "L-MODE", "CR7"},
    {"Command38", "pc-type", "", "PC type", "CR9"},
    {"Command12", "status-2", "", "STATUS 2", "CRA"},
}};

// The code of the button koru-ctl calls name, for a program that sends it by name. A name the
// table does not hold is no constant expression, so it does not build.
consteval std::string_view codeOf(std::string_view name)
{
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.name == name)
            return button.code;
    }
    throw "no one-shot button has this name";
}

// The repeat interval and arrow mode that MENU "ON" and "A-IMAGE" leave behind.
inline constexpr int kMenuArrowRepeatMs = 200;
inline constexpr unsigned char kMenuArrowMode = 1;
