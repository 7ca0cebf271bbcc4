// Rectangles on the desktop, as X11 and Qt's window geometry see it: points,
// origin at the top left of the primary screen, y growing downwards (so a
// rectangle's top is its smallest y). Plain values; the placement arithmetic
// works on these without any window, so tests build screens by hand.
//
// A screen has its full frame and its visible frame: the frame less the
// panels of other programs (the desktop's top panel, a task bar), but never
// less the strut that our own pinned bar reserves, so the bar's place does
// not move each time the window manager applies our strut.
#pragma once

#include <algorithm>
#include <optional>
#include <vector>

namespace crestline {

struct DesktopPoint {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const DesktopPoint&) const = default;
};

struct DesktopRect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    constexpr double left() const { return x; }
    constexpr double top() const { return y; }
    constexpr double right() const { return x + width; }
    constexpr double bottom() const { return y + height; }
    constexpr double midX() const { return x + width / 2.0; }
    constexpr bool isEmpty() const { return !(width > 0.0) || !(height > 0.0); }
    // Half-open on the far edges.
    constexpr bool contains(DesktopPoint p) const { return p.x >= x && p.x < right() && p.y >= y && p.y < bottom(); }
    // Area shared with `other`; 0 when they do not overlap.
    constexpr double overlapArea(const DesktopRect& other) const {
        const double w = std::min(right(), other.right()) - std::max(left(), other.left());
        const double h = std::min(bottom(), other.bottom()) - std::max(top(), other.top());
        return w > 0.0 && h > 0.0 ? w * h : 0.0;
    }
    constexpr bool intersects(const DesktopRect& other) const { return overlapArea(other) > 0.0; }
    bool operator==(const DesktopRect&) const = default;
};

struct DesktopScreen {
    DesktopRect frame;
    DesktopRect visible;  // frame less other programs' panels
    bool operator==(const DesktopScreen&) const = default;
};

// The screens in the desktop's order: the primary (main) screen first.
using DesktopScreens = std::vector<DesktopScreen>;

// The screen whose frame shares the largest area with `frame` (the first
// of equals); nothing when it overlaps none.
inline std::optional<int> screenOverlapping(const DesktopRect& frame, const DesktopScreens& screens) {
    std::optional<int> best;
    double bestArea = 0.0;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const double area = screens[i].frame.overlapArea(frame);
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    return best;
}

}  // namespace crestline
