#include "widgets/layouttable.h"

#include "core/protocol/holdbuttons.h"
#include "core/protocol/oneshotbuttons.h"

namespace layout {

namespace {

using enum Kind;
constexpr Align C = Align::Centre;
constexpr Align R = Align::Right;
constexpr Align L = Align::Left;

constexpr Rgb grey{192, 192, 192};
constexpr Rgb green{192, 255, 192};
constexpr Rgb pink{255, 192, 192};
constexpr Rgb cyan{192, 255, 255};
constexpr Rgb peach{255, 224, 192};
constexpr Rgb orange{255, 128, 0};
constexpr Rgb apricot{255, 192, 128};
constexpr Rgb teal{0, 192, 192};
constexpr Rgb lavender{192, 192, 255};
constexpr Rgb cream{255, 255, 192};
constexpr Rgb white{255, 255, 255};

constexpr Font none{};
constexpr Font gothic9b{kGothic, 9, true};
constexpr Font gothic9{kGothic, 9, false};
constexpr Font gothic825{kGothic, 8.25, false};
constexpr Font gothic825b{kGothic, 8.25, true};
constexpr Font pgothic9b{kPGothic, 9, true};
constexpr Font pgothic9{kPGothic, 9, false};
constexpr Font pgothic975b{kPGothic, 9.75, true};

// A command button's caption is the one its command's table gives it, which koru-ctl --list
// shows too. A name that neither table holds is no constant expression, so it does not build.
consteval std::string_view captionOf(std::string_view control)
{
    for (const OneShotButton &button : kOneShotButtons) {
        if (button.control == control)
            return button.caption;
    }
    for (const HoldButton &button : kHoldButtons) {
        if (button.control == control)
            return button.caption;
    }
    throw "a command button that no command table holds";
}

}  // namespace

// clang-format off
const std::array<Control, 95> kControls{{
    // Top row
    {"Frame1", Frame, "", "", 120, 240, 1695, 975, grey, none, 0},
    {"Label1", Label, "Frame1", "POWER", 360, 240, 1095, 255, grey, gothic9b, 2, C, false, Rgb{192, 0, 0}},
    {"Command17", Button, "Frame1", captionOf("Command17"), 120, 600, 615, 300, green, gothic9b, 1},
    {"Command18", Button, "Frame1", captionOf("Command18"), 960, 600, 615, 300, pink, gothic9b, 27},
    {"Frame2", Frame, "", "", 2640, 240, 2535, 975, grey, none, 3},
    {"Label2", Label, "Frame2", "INPUT MODE", 480, 240, 1575, 255, grey, gothic9b, 4, C},
    {"Command27", Button, "Frame2", captionOf("Command27"), 240, 600, 495, 300, cyan, gothic9b, 36},
    {"Command28", Button, "Frame2", captionOf("Command28"), 960, 600, 495, 300, cyan, gothic9b, 37},
    {"Command29", Button, "Frame2", captionOf("Command29"), 1680, 600, 495, 300, cyan, gothic9b, 38},
    {"Frame6", Frame, "", "", 6120, 240, 1695, 975, grey, none, 14},
    {"Label7", Label, "Frame6", "MENU", 360, 240, 975, 255, grey, gothic9b, 15, C},
    {"Command23", Button, "Frame6", captionOf("Command23"), 120, 600, 615, 300, green, gothic9b, 32},
    {"Command24", Button, "Frame6", captionOf("Command24"), 960, 600, 615, 300, pink, gothic9b, 33},
    {"Image1", Image, "", "", 8160, 120, 1200, 390, std::nullopt, none, -1},
    {"Frame10", Frame, "", "", 8160, 720, 1215, 1575, grey, none, 73},
    {"Label20", Label, "Frame10", "LENS SHIFT", 105, 180, 1035, 615, grey, pgothic9b, 76, C},
    {"Command59", Button, "Frame10", captionOf("Command59"), 360, 840, 492, 252, peach, gothic825, 74},
    {"Command62", Button, "Frame10", captionOf("Command62"), 360, 1200, 492, 252, peach, gothic825, 75},
    // Second row
    {"Frame3", Frame, "", "", 120, 1440, 1695, 855, grey, none, 8},
    {"Label4", Label, "Frame3", "SOUND MUTE", 120, 195, 1455, 255, grey, gothic9b, 9, C},
    {"Command19", Button, "Frame3", captionOf("Command19"), 120, 480, 615, 300, green, gothic9b, 28},
    {"Command20", Button, "Frame3", captionOf("Command20"), 960, 480, 615, 300, pink, gothic9b, 29},
    {"Frame4", Frame, "", "", 2040, 1440, 1695, 855, grey, none, 10},
    {"Label5", Label, "Frame4", "NO SHOW", 360, 180, 1095, 255, grey, gothic9b, 11, C},
    {"Command21", Button, "Frame4", captionOf("Command21"), 120, 480, 615, 300, green, gothic9b, 30},
    {"Command22", Button, "Frame4", captionOf("Command22"), 960, 480, 615, 300, pink, gothic9b, 31},
    {"Frame7", Frame, "", "", 3960, 1440, 1695, 855, grey, none, 22},
    {"Label8", Label, "Frame7", "FREEZE", 255, 195, 1215, 255, grey, gothic9b, 23, C},
    {"Command25", Button, "Frame7", captionOf("Command25"), 120, 480, 615, 300, green, gothic9b, 34},
    {"Command26", Button, "Frame7", captionOf("Command26"), 960, 480, 615, 300, pink, gothic9b, 35},
    {"Frame5", Frame, "", "", 5880, 1440, 1935, 855, grey, none, 12},
    {"Label6", Label, "Frame5", "AV Size", 240, 195, 1455, 255, grey, gothic9b, 13, C},
    {"Command31", Button, "Frame5", captionOf("Command31"), 120, 480, 975, 300, cyan, gothic9, 39},
    {"Command32", Button, "Frame5", captionOf("Command32"), 1200, 480, 615, 300, cyan, gothic9, 40},
    // Arrow pad and adjusters
    {"Command5", Button, "", captionOf("Command5"), 1200, 2520, 855, 375, peach, pgothic9b, 17},
    {"Command9", Button, "", captionOf("Command9"), 240, 3000, 855, 375, peach, pgothic9b, 21},
    {"Command6", Button, "", captionOf("Command6"), 1200, 3000, 855, 375, orange, pgothic9, 18},
    {"Command8", Button, "", captionOf("Command8"), 2160, 3000, 855, 375, peach, pgothic9b, 20},
    {"Command7", Button, "", captionOf("Command7"), 1200, 3480, 855, 375, peach, pgothic9b, 19},
    {"Label3", Label, "", "VOL", 3600, 2520, 495, 255, grey, gothic9b, 7, C},
    {"Command1", Button, "", captionOf("Command1"), 3600, 2880, 375, 255, apricot, pgothic9b, 5},
    {"Command2", Button, "", captionOf("Command2"), 3600, 3240, 375, 255, apricot, pgothic9b, 6},
    {"Label13", Label, "", "Zoom", 4320, 2520, 615, 255, grey, gothic9, 53, C},
    {"Command15", Button, "", captionOf("Command15"), 4440, 2880, 375, 255, cyan, pgothic9, 51},
    {"Command35", Button, "", captionOf("Command35"), 4440, 3240, 375, 255, cyan, pgothic9, 52},
    {"Label14", Label, "", "Focus", 5160, 2520, 735, 255, grey, gothic9, 56, C},
    {"Command36", Button, "", captionOf("Command36"), 5280, 2880, 375, 255, cyan, pgothic9, 54},
    {"Command37", Button, "", captionOf("Command37"), 5280, 3240, 375, 255, cyan, pgothic9, 55},
    {"Label17", Label, "", "D.Zoom", 6120, 2520, 855, 255, grey, gothic9, 63, C},
    {"Command48", Button, "", captionOf("Command48"), 6360, 2880, 375, 255, cyan, pgothic9, 61},
    {"Command49", Button, "", captionOf("Command49"), 6360, 3240, 375, 255, cyan, pgothic9, 62},
    {"Label18", Label, "", "Keystone", 7200, 2520, 975, 255, grey, gothic9, 66, C},
    {"Command50", Button, "", captionOf("Command50"), 7440, 2880, 375, 255, cyan, pgothic9, 64},
    {"Command51", Button, "", captionOf("Command51"), 7440, 3240, 375, 255, cyan, pgothic9, 65},
    {"Command13", Button, "", captionOf("Command13"), 8280, 2520, 1095, 250, teal, gothic9, 24},
    {"Command30", Button, "", captionOf("Command30"), 8280, 3000, 1095, 255, lavender, gothic9, 89},
    {"Command14", Button, "", captionOf("Command14"), 8280, 3240, 1095, 250, lavender, gothic9, 25},
    {"Command3", Button, "", captionOf("Command3"), 8280, 3480, 1095, 492, lavender, gothic9, 16},
    // Lamp, port and end
    {"Label19", Label, "", "LAMP SELECT", 6480, 3720, 1335, 255, grey, gothic9, 72, C},
    {"Command56", Button, "", captionOf("Command56"), 6360, 3960, 1680, 372, cream, gothic9, 69},
    {"Command57", Button, "", captionOf("Command57"), 6360, 4320, 840, 372, cream, gothic9, 70},
    {"Command58", Button, "", captionOf("Command58"), 7200, 4320, 840, 372, cream, gothic9, 71},
    {"Command33", Button, "", "COM", 4080, 4200, 1815, 375, std::nullopt, pgothic9, 41},
    {"Command16", Button, "", "END", 8400, 4320, 975, 375, grey, gothic9b, 26},
    {"Frame8", Frame, "", "", 3360, 3600, 2775, 1185, grey, none, 42, L, false, std::nullopt, true},
    {"Option1", Option, "Frame8", "COM1", 240, 240, 1095, 255, grey, gothic9b, 43},
    {"Option2", Option, "Frame8", "COM2", 1560, 240, 1095, 255, grey, gothic9b, 44},
    {"Frame13", Frame, "Frame8", "", 120, 480, 2535, 615, grey, none, 91},
    {"Option9", Option, "Frame13", "19200", 120, 240, 1095, 255, grey, gothic9b, 92, L, false, std::nullopt, false, true},
    {"Option10", Option, "Frame13", "9600", 1440, 240, 975, 255, grey, gothic9b, 93},
    // Data area
    {"Frame9", Frame, "", "", 45, 4830, 6312, 936, grey, none, 45},
    {"Label9", Label, "Frame9", "TXD", 120, 225, 405, 300, grey, gothic825, 46, R},
    {"Label11", Label, "Frame9", "", 600, 192, 5616, 300, white, pgothic975b, 48, L, true},
    {"Label10", Label, "Frame9", "RXD", 90, 585, 435, 285, grey, gothic825, 47, R},
    {"Label12", Label, "Frame9", "", 600, 540, 5616, 300, white, pgothic975b, 49, L, true},
    {"Command34", Button, "", "\u30C7\u30FC\u30BF\u3092\u8868\u793A\u3059\u308B", 6480, 5040, 1440, 375, grey, gothic9, 50, L, false, std::nullopt, true},
    {"Command44", Button, "", captionOf("Command44"), 6480, 5640, 975, 255, cyan, gothic825b, 57},
    {"Command46", Button, "", captionOf("Command46"), 7440, 5640, 975, 255, cyan, gothic825b, 59},
    {"Command54", Button, "", captionOf("Command54"), 8400, 5640, 975, 252, cyan, gothic825b, 67},
    {"Command45", Button, "", captionOf("Command45"), 6480, 5880, 975, 255, cyan, gothic825b, 58},
    {"Command47", Button, "", captionOf("Command47"), 7440, 5880, 975, 255, cyan, gothic825b, 60},
    {"Command55", Button, "", captionOf("Command55"), 8400, 5880, 975, 252, cyan, gothic825b, 68},
    {"Frame12", Frame, "", "", 45, 5760, 6300, 480, grey, none, 85},
    {"Label23", Label, "Frame12", "STATUS", 105, 135, 720, 270, grey, gothic825, 87, L},
    {"Label22", Label, "Frame12", "", 825, 120, 5370, 300, white, pgothic9b, 86, L, true, Rgb{255, 0, 0}},
    {"Frame11", Frame, "", "", 15, 6240, 6780, 450, grey, none, 77},
    {"Label21", Label, "Frame11", "PJ Select", 105, 135, 1095, 255, grey, gothic825, 78, L},
    {"Option3", Option, "Frame11", "SINGLE", 1305, 150, 975, 225, grey, gothic825, 79, L, false, std::nullopt, false, true},
    {"Option4", Option, "Frame11", "ALL", 2400, 150, 735, 240, grey, gothic825, 80},
    {"Option5", Option, "Frame11", "001", 3345, 150, 735, 240, grey, gothic825, 81},
    {"Option6", Option, "Frame11", "002", 4200, 150, 735, 225, grey, gothic825, 82},
    {"Option7", Option, "Frame11", "003", 5040, 150, 735, 225, grey, gothic825, 83},
    {"Option8", Option, "Frame11", "004", 5880, 150, 735, 225, grey, gothic825, 84},
    {"Command38", Button, "", captionOf("Command38"), 6960, 6240, 1215, 255, cyan, gothic825b, 90},
    {"Command12", Button, "", captionOf("Command12"), 8160, 6240, 1215, 252, cyan, gothic825b, 88},
}};

const std::array<Line, 12> kArrowPadOutline{{
    {"Line1", 1080, 2400, 1080, 2880},
    {"Line2", 2160, 2400, 2160, 2880},
    {"Line3", 3120, 2880, 3120, 3480},
    {"Line4", 2160, 3480, 2160, 3960},
    {"Line5", 1080, 3480, 1080, 3960},
    {"Line6", 120, 2880, 120, 3480},
    {"Line7", 1080, 2400, 2160, 2400},
    {"Line8", 120, 2880, 1080, 2880},
    {"Line9", 2160, 2880, 3120, 2880},
    {"Line10", 120, 3480, 1080, 3480},
    {"Line11", 1080, 3960, 2160, 3960},
    {"Line12", 2160, 3480, 3120, 3480},
}};
// clang-format on

const Control *find(std::string_view name)
{
    for (const Control &control : kControls) {
        if (control.name == name)
            return &control;
    }
    return nullptr;
}

Rect absoluteRect(const Control &control)
{
    Rect rect{control.left, control.top, control.width, control.height};
    for (const Control *container = find(control.container); container;
         container = find(container->container)) {
        rect.left += container->left;
        rect.top += container->top;
    }
    return rect;
}

}  // namespace layout
