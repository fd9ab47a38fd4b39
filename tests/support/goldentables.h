#pragma once

// The panel's tables written out once more, by hand, from the panel's design rather than from
// the program: the tests compare the program's tables and behaviour with these. A change to a
// table of the program is a change to the panel and belongs here too.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"

namespace golden {

// The address settings, written out from the PJ Select row.
struct Address {
    const char *control;
    const char *caption;
    const char *prefix;
    const char *prefixHex;
};
inline constexpr std::array<Address, 6> kAddresses{{
    {"Option3", "SINGLE", "", ""},
    {"Option4", "ALL", "AFFF", "41 46 46 46"},
    {"Option5", "001", "A001", "41 30 30 31"},
    {"Option6", "002", "A002", "41 30 30 32"},
    {"Option7", "003", "A003", "41 30 30 33"},
    {"Option8", "004", "A004", "41 30 30 34"},
}};

// The one-shot buttons, written out from the button table: control, heading, caption, code
// and the code's bytes.
struct OneShot {
    const char *control;
    const char *heading;
    const char *caption;
    const char *code;
    const char *codeHex;
};
inline constexpr std::array<OneShot, 30> kOneShots{{
    {"Command17", "POWER", "ON", "C00", "43 30 30"},
    {"Command18", "POWER", "OFF", "C01", "43 30 31"},
    {"Command27", "INPUT MODE", "1", "C05", "43 30 35"},
    {"Command28", "INPUT MODE", "2", "C06", "43 30 36"},
    {"Command29", "INPUT MODE", "3", "C07", "43 30 37"},
    {"Command23", "MENU", "ON", "C1C", "43 31 43"},
    {"Command24", "MENU", "OFF", "C1D", "43 31 44"},
    {"Command19", "SOUND MUTE", "ON", "C0B", "43 30 42"},
    {"Command20", "SOUND MUTE", "OFF", "C0C", "43 30 43"},
    {"Command21", "NO SHOW", "ON", "C0D", "43 30 44"},
    {"Command22", "NO SHOW", "OFF", "C0E", "43 30 45"},
    {"Command25", "FREEZE", "ON", "C43", "43 34 33"},
    {"Command26", "FREEZE", "OFF", "C44", "43 34 34"},
    {"Command31", "AV Size", "Regular", "C0F", "43 30 46"},
    {"Command32", "AV Size", "Wide", "C10", "43 31 30"},
    {"Command13", nullptr, "A-IMAGE", "C89", "43 38 39"},
    {"Command30", nullptr, "IMAGE", "C27", "43 32 37"},
    {"Command14", nullptr, "P-TIMER", "C8A", "43 38 41"},
    {"Command3", nullptr, "DISPLAY CLEAR", "C1E", "43 31 45"},
    {"Command56", "LAMP SELECT", "2 LAMP", "C70", "43 37 30"},
    {"Command57", "LAMP SELECT", "Half 1", "C71", "43 37 31"},
    {"Command58", "LAMP SELECT", "Half 2", "C72", "43 37 32"},
    {"Command44", nullptr, "STATUS", "CR0", "43 52 30"},
    {"Command45", nullptr, "MODE", "CR1", "43 52 31"},
    {"Command46", nullptr, "L-TIME", "CR3", "43 52 33"},
    {"Command47", nullptr, "SETTING", "CR4", "43 52 34"},
    {"Command54", nullptr, "TEMP", "CR6", "43 52 36"},
    {"Command55", nullptr, "L-MODE", "CR7", "43 52 37"},
    {"Command38", nullptr, "PC type", "CR9", "43 52 39"},
    {"Command12", nullptr, "STATUS 2", "CRA", "43 52 41"},
}};

// The hold buttons, written out from the hold-button table; 0 for "not changed" intervals.
struct Hold {
    const char *control;
    const char *caption;
    int heldKey;
    const char *command;
    const char *commandHex;
    bool arrow;
    int repeatMs;
    int replyMs;
    int displayMs;
};
inline constexpr std::array<Hold, 17> kHolds{{
    {"Command1", "+", 1, "C09", "43 30 39", false, 250, 200, 245},
    {"Command2", "-", 2, "C0A", "43 30 41", false, 250, 200, 245},
    {"Command5", "↑", 3, "C3C", "43 33 43", true, 0, 0, 0},
    {"Command7", "↓", 4, "C3D", "43 33 44", true, 0, 0, 0},
    {"Command9", "←", 5, "C3B", "43 33 42", true, 0, 0, 0},
    {"Command8", "→", 6, "C3A", "43 33 41", true, 0, 0, 0},
    {"Command15", "+", 7, "C47", "43 34 37", false, 50, 25, 25},
    {"Command35", "-", 8, "C46", "43 34 36", false, 50, 25, 25},
    {"Command36", "+", 9, "C4B", "43 34 42", false, 50, 25, 25},
    {"Command37", "-", 10, "C4A", "43 34 41", false, 50, 25, 25},
    {"Command6", "SELECT", 13, "C3F", "43 33 46", false, 500, 200, 245},
    {"Command48", "+", 17, "C30", "43 33 30", false, 250, 200, 245},
    {"Command49", "-", 18, "C31", "43 33 31", false, 250, 200, 245},
    {"Command50", "+", 19, "C8E", "43 38 45", false, 250, 200, 245},
    {"Command51", "-", 20, "C8F", "43 38 46", false, 250, 200, 245},
    {"Command59", "↑", 21, "C5D", "43 35 44", false, 50, 25, 25},
    {"Command62", "↓", 22, "C5E", "43 35 45", false, 50, 25, 25},
}};

// The five lookup tables, written out row by row: query, key as received (two characters,
// one for "CR1") and the status text.
struct LookupRow {
    const char *query;
    const char *reply;
    const char *text;
};
inline constexpr std::array<LookupRow, 36> kLookupRows{{
    {"CR0", "00", " Power ON"},
    {"CR0", "80", " Stand by"},
    {"CR0", "40", " Count down"},
    {"CR0", "20", " Cooling down"},
    {"CR0", "10", " Power abnormality"},
    {"CR0", "08", " Temperature abnormality"},
    {"CR0", "28", " Temperature abnormality"},
    {"CR0", "88", " Temperature abnormality"},
    {"CR0", "02", " Key input prohibition"},
    {"CR0", "24", " Cooling down for power save"},
    {"CR0", "04", " Power save"},
    {"CR1", "1", " Input 1"},
    {"CR1", "2", " Input 2"},
    {"CR1", "3", " Input 3"},
    {"CR4", "11", " Normally"},
    {"CR4", "10", " Top/Bottom reversal"},
    {"CR4", "01", " Left/Right reversal"},
    {"CR4", "00", " Top/Bottom , Left/Right reversal"},
    {"CRA", "00", " Video & Audio mute OFF"},
    {"CRA", "01", " Video mute ON"},
    {"CRA", "02", " Audio mute ON"},
    {"CRA", "03", " Video & Audio mute ON"},
    {"CRA", "80", " No signal"},
    {"CRA", "FF", " Stand by"},
    {"CR7", "00", " All OFF : 2 Lamp mode"},
    {"CR7", "01", " No1 ON  : 2 Lamp mode"},
    {"CR7", "02", " No2 ON  : 2 Lamp mode"},
    {"CR7", "03", " No1,2 ON  : 2 Lamp mode"},
    {"CR7", "10", " All OFF : Half Lamp mode-1"},
    {"CR7", "11", " No1 ON  : Half Lamp mode-1"},
    {"CR7", "12", " No2 ON  : Half Lamp mode-1"},
    {"CR7", "13", " No1,2 ON  : Half Lamp mode-1"},
    {"CR7", "20", " All OFF : Half Lamp mode-2"},
    {"CR7", "21", " No1 ON  : Half Lamp mode-2"},
    {"CR7", "22", " No2 ON  : Half Lamp mode-2"},
    {"CR7", "23", " No1,2 ON  : Half Lamp mode-2"},
}};

}  // namespace golden

// Plain C++, so that the fuzz targets can use the tables too.
[[noreturn]] inline void noSuchControl(const char *kind, std::string_view control)
{
    std::fprintf(stderr, "no %s button %.*s\n", kind, static_cast<int>(control.size()),
                 control.data());
    std::abort();
}

// The program's row for a control, or a fatal test error when it has none.
inline const OneShotButton &oneShot(std::string_view control)
{
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.control == control)
            return button;
    }
    noSuchControl("one-shot", control);
}

inline const HoldButton &hold(std::string_view control)
{
    const HoldButton *button = findHoldButton(control);
    if (!button)
        noSuchControl("hold", control);
    return *button;
}
