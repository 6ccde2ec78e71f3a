#pragma once
// Where the main window goes on the screen, in twips, without any widget: the
// rule that keeps a stored position on the screen at the right and bottom,
// and whether a window still stands where it was placed.
#include <QPoint>

namespace kalvor {

struct TwipsPosition {
    float left = 0;
    float top = 0;
    bool operator==(const TwipsPosition&) const = default;
};

// The window's outer size (frame included) and the screen's size, in twips.
// A right or bottom edge beyond the screen moves the window back so that the
// edge lies exactly on the screen's edge; equality is no correction, and the
// left and top edges get none (a negative position stays). Single precision,
// as the position is stored.
TwipsPosition keepOnScreen(TwipsPosition stored, float width, float height, float screenWidth, float screenHeight);

// True when a window placed with its frame at `placed` (pixels) is found at
// `now`: the same pixel, or one off when the screen is scaled by a fraction
// (1.5 at 144 dpi), which rounds the frame's position on its way back from the
// window system.
bool standsWherePlaced(QPoint placed, QPoint now, double devicePixelRatio);

} // namespace kalvor
