// Fits Live's main window under the pinned bar: left edge and width of the
// screen's visible frame, top right under the bar, bottom at the bottom of
// the visible frame. Works through the accessibility layer
// (platform/accessibility.h), so tests drive it with FakeAccessibility.
//
// Frames are in desktop points (app/desktop_geometry.h). The accessibility
// layer speaks root pixels; `pixelsPerPoint` converts (1 unless Qt scales).
//
// X11 moves another program's window asynchronously: a frame read right
// after a request may still be the old one. So a height that Live refuses
// (its minimum size) is believed only from a stable read-back: either the
// request visibly took effect and a second read agrees, or the same frame
// is read again on the next tick after the same request (`FitMemory`).
// Heights at or above the screen's visible height are never taken as
// refusals (a window that simply has not moved yet can be that tall).
//
// Main thread. Every request to Live is bounded by a 0.25 s messaging
// time-out, so a busy Live cannot stall the bar for long.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/desktop_geometry.h"
#include "platform/accessibility.h"

namespace crestline {

// What the fitter remembers between two ticks, owned by the caller.
struct FitMemory {
    std::optional<DesktopRect> requested;  // the target last asked for
    std::optional<DesktopRect> readBack;   // the frame read after that request
    bool operator==(const FitMemory&) const = default;
};

namespace WindowFitter {

inline constexpr double kMessagingTimeoutSeconds = 0.25;
// A window this much taller than asked keeps a minimum height of its own.
inline constexpr double kRefusalSlack = 4.0;
// The first step of `place` shrinks the target by this much.
inline constexpr double kRetryShrink = 150.0;
inline constexpr double kRetryMinimumHeight = 200.0;

struct Result {
    std::optional<int> screen;            // index into the screens given; none without a window
    bool matched = false;                 // the window now sits where it should
    std::optional<double> refusedHeight;  // the height Live kept, in points
    bool operator==(const Result&) const = default;
};

struct Request {
    int pid = 0;
    double barHeight = 36.0;  // points
    bool fill = false;        // always give the target frame; else only move a window under the bar
    DesktopScreens screens;
    double pixelsPerPoint = 1.0;
};

// One fitting step. `memory` carries the last request across ticks.
Result fit(Accessibility& ax, const Request& request, FitMemory& memory);

// Whether any of the process's windows is full screen; nothing when that
// cannot be told (no display, no answer).
std::optional<bool> hasFullScreen(Accessibility& ax, int pid);

// A window's frame from "AXPosition" and "AXSize", in points.
std::optional<DesktopRect> windowFrame(AXElement& window, double pixelsPerPoint = 1.0);
std::optional<std::string> stringValue(AXElement& element, std::string_view attribute);

// Left, top and width within 1 point; height at most 0.5 above the target
// and at most 4 below it.
bool matches(const DesktopRect& actual, const DesktopRect& target);

// Size, position, size again: a smaller size first lets the window move
// where the larger one would not fit; the second size takes effect at the
// new place.
void apply(AXElement& window, const DesktopRect& target, double pixelsPerPoint = 1.0);

// Puts the window at `target`: nothing when `current` already matches; else
// apply and read back (twice when it matched); else apply a target 150
// points shorter (not below 200), then the full one, and read back. Returns
// whether the window matched, and the last frame read in `readBack`.
bool place(AXElement& window, const DesktopRect& target, const DesktopRect& current, double pixelsPerPoint,
           std::optional<DesktopRect>& readBack);

// The screen whose frame shares the largest area with `frame`.
std::optional<int> screen(const DesktopRect& frame, const DesktopScreens& screens);

}  // namespace WindowFitter
}  // namespace crestline
