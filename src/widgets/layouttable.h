#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The panel as designed: every control with its container, caption, place and size in twips,
// colours, font and tab place, in reading order. The widgets are built from this table.
namespace layout {

inline constexpr int kTwipsPerPixel = 15;

struct Rgb {
    std::uint8_t r, g, b;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

enum class Kind { Frame, Label, Button, Option, Image };
enum class Align { Left, Centre, Right };

// The two Gothic faces by the names the panel was designed with; the program maps them to
// faces drawn to the same metrics.
inline constexpr std::string_view kGothic = "\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF";
inline constexpr std::string_view kPGothic = "\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF";

struct Font {
    std::string_view face;  // empty: the control has no font of its own
    double points = 0;
    bool bold = false;
};

struct Control {
    std::string_view name;
    Kind kind;
    std::string_view container;  // empty: the panel's client area
    std::string_view caption;
    int left, top, width, height;
    std::optional<Rgb> back;  // none: the system's button face (or no fill, for the image)
    Font font;
    int tab;  // place in the tab order; -1 for the image, which has none
    Align align = Align::Left;
    bool border = false;
    std::optional<Rgb> text = std::nullopt;  // none: the system's button text
    bool hidden = false;
    bool selected = false;
};

struct Line {
    std::string_view name;
    int x1, y1, x2, y2;
};

inline constexpr std::string_view kCaption = "KORU   M2V & NV7R    CONTROL   Ver.1.31";
inline constexpr int kClientWidth = 9495;
inline constexpr int kClientHeight = 6825;
inline constexpr Rgb kBackColour{192, 192, 192};
inline constexpr Rgb kLineColour{128, 128, 255};
inline constexpr int kLineWidthPx = 2;

extern const std::array<Control, 95> kControls;
extern const std::array<Line, 12> kArrowPadOutline;

const Control *find(std::string_view name);

// Where a control lies on the client area, its containers' offsets added.
struct Rect {
    int left, top, width, height;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
};
Rect absoluteRect(const Control &control);

}  // namespace layout
