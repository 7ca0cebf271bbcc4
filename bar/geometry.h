// Points, sizes and rectangles in the bar's own coordinates: points (not
// pixels), origin at the bottom-left, y growing upwards, so "top" is maxY.
// Plain values; the canvas maps them onto the painter.
#pragma once

#include <algorithm>

#include "settings/settings.h"  // Point, shared with the window origin

namespace crestline {

struct Size {
    double width = 0.0;
    double height = 0.0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    constexpr double minX() const { return x; }
    constexpr double minY() const { return y; }
    constexpr double maxX() const { return x + width; }
    constexpr double maxY() const { return y + height; }
    constexpr double midX() const { return x + width / 2.0; }
    constexpr double midY() const { return y + height / 2.0; }
    constexpr bool isEmpty() const { return !(width > 0.0) || !(height > 0.0); }

    // Grows (negative) or shrinks (positive) the rectangle on every side.
    constexpr Rect insetBy(double dx, double dy) const {
        return {x + dx, y + dy, width - 2.0 * dx, height - 2.0 * dy};
    }
    constexpr Rect offsetBy(double dx, double dy) const { return {x + dx, y + dy, width, height}; }
    // Half-open on the far edges, like the platform's hit tests.
    constexpr bool contains(Point p) const {
        return p.x >= x && p.x < x + width && p.y >= y && p.y < y + height;
    }
    bool operator==(const Rect&) const = default;
};

}  // namespace crestline
