#pragma once

// The panel's views differ only in the window's outer height; the window's top edge never
// moves. Heights in twips.
namespace views {

inline constexpr int kCompactHeight = 5200;
inline constexpr int kDataHeight = 6645;
inline constexpr int kFullHeight = 7200;
// At or above this the lower rows count as open.
inline constexpr int kOpenThreshold = 6000;

// A window frame that reports no size of its own (the offscreen platform, X without a window
// manager) is taken to be a 19-pixel title bar and a 3-pixel border.
inline constexpr int kNominalTitleBarPx = 19;
inline constexpr int kNominalBorderPx = 3;

struct FrameMetrics {
    int titleBarPx = kNominalTitleBarPx;
    int borderPx = kNominalBorderPx;

    int extraHeightPx() const { return titleBarPx + 2 * borderPx; }
    int extraWidthPx() const { return 2 * borderPx; }
};

// The start-up place of the window's outer rectangle: centred horizontally, and vertically as
// if it had its full design height, whatever height it then gets. Computed in floating point;
// a screen smaller than the panel gives a negative place, applied as it is.
struct Placement {
    double left;
    double top;
};

inline Placement startPlacement(double screenWidth, double screenHeight, double panelWidth,
                                double designHeight)
{
    return {(screenWidth - panelWidth) / 2, (screenHeight - designHeight) / 2};
}

}  // namespace views
