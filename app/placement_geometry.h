// The arithmetic of bar placement, as pure functions over screens given as
// plain rectangles (app/desktop_geometry.h): window frames of both modes,
// the bounds of a height drag, the screen to escape to while Live is full
// screen, clamping a stored floating frame back onto a screen, what Live's
// windows say about full screen, the top-edge and gap tests, and whether the
// bar is shown. BarPlacement feeds these from the desktop and applies them.
#pragma once

#include <optional>
#include <vector>

#include "app/desktop_geometry.h"

namespace crestline {

namespace placement {

inline constexpr double kDefaultBarHeight = 36.0;
inline constexpr double kMinimumBarHeight = 28.0;
inline constexpr double kPinnedMaximumHeight = 320.0;   // a pinned bar never grows past this
inline constexpr double kLiveRoomMinimum = 300.0;       // room left for Live under a pinned bar
inline constexpr double kFloatingMinimumWidth = 320.0;
inline constexpr double kDefaultFloatingWidth = 900.0;
inline constexpr double kFirstFloatingMaximumWidth = 1100.0;
inline constexpr double kFirstFloatingDrop = 60.0;      // below the top of the visible frame
inline constexpr double kReachableMargin = 80.0;        // of a clamped frame, stays on screen
inline constexpr double kLiveOnScreenWidth = 300.0;
inline constexpr double kLiveOnScreenHeight = 200.0;
inline constexpr double kEdgeGrabBelow = 6.0;           // top-edge grab zone around Live's top
inline constexpr double kEdgeGrabAbove = 4.0;
inline constexpr double kGapTolerance = 2.0;            // gap under the bar that counts
inline constexpr double kFollowTolerance = 1.0;         // after release
inline constexpr double kBottomTolerance = 4.0;         // Live's bottom still on the visible bottom

}  // namespace placement

// Index of the screen whose frame is `frame`, if it still exists.
std::optional<int> screenWithFrame(const DesktopScreens& screens, const std::optional<DesktopRect>& frame);

// The screen holding most of `frame`; the first screen when none overlaps;
// nothing without screens.
std::optional<int> screenOf(const DesktopRect& frame, const DesktopScreens& screens);

// Bounds of the bar height. Pinned: 28 up to min(visible height − max(Live's
// recorded minimum or 300, 300), 320), never below 28. Floating: up to the
// visible height of the window's screen.
struct HeightBounds {
    double lower = placement::kMinimumBarHeight;
    double upper = placement::kMinimumBarHeight;
    bool operator==(const HeightBounds&) const = default;
};
HeightBounds barHeightBounds(bool floating, double visibleHeight, std::optional<double> liveMinimumHeight);

// Only while Live is full screen: among the other screens, the bar's screen
// when it is one of them, else the first; nothing without another screen.
std::optional<int> escapeScreen(const DesktopScreens& screens, std::optional<int> fullScreenScreen,
                                std::optional<int> barScreen);

// Centred on the main screen's visible frame, at its top; (0, 0) without screens.
DesktopPoint defaultFloatingOrigin(double width, double height, const DesktopScreens& screens);

// A frame that shares area with any screen's visible frame stays as it is;
// any other is moved into the main screen's visible frame so that at least
// 80 points of it can be reached.
DesktopRect clamped(const DesktopRect& frame, const DesktopScreens& screens);

// What the window manager adds around a window's own area: its title bar
// on top, borders on the other sides (_NET_FRAME_EXTENTS), in points. No
// content lies under the title bar.
struct FrameMargins {
    double left = 0.0;
    double top = 0.0;  // the title bar's height
    double right = 0.0;
    double bottom = 0.0;
    bool operator==(const FrameMargins&) const = default;
};

// The floating window's whole frame, decorations included, from the stored
// values: the window's own area at least 320 wide (900 when unset) and the
// stored height high, the frame's origin stored or default, then clamped.
// Its top never lies above the visible top of the screen it is on, so the
// title bar can always be grabbed.
struct FloatingValues {
    std::optional<DesktopPoint> origin;  // of the whole frame
    double width = 0.0;   // "floatingWidth", the window's own area; 0 or less: unset
    double height = 0.0;  // "floatingHeight", else "barHeight"; 0 or less: 36
};
DesktopRect floatingFrame(const FloatingValues& stored, const DesktopScreens& screens,
                          const FrameMargins& margins = {});

// The first switch to floating without a stored origin: at most 1100 wide
// (the visible width less 80), centred, 60 points below the visible top of
// `screen`.
DesktopRect firstFloatingFrame(const DesktopScreen& screen, double height);

// The pinned bar across the top of a screen's visible frame, under the
// desktop's own top panel.
DesktopRect pinnedFrame(const DesktopScreen& screen, double barHeight);

// One of Live's windows as the desktop reports it.
struct LiveWindow {
    DesktopRect frame;
    bool minimised = false;
    bool fullScreen = false;
    bool standard = true;  // a normal window, not a dialog or a tool window
    bool operator==(const LiveWindow&) const = default;
};

// What Live's windows say: whether one is on screen (standard, not
// minimised, at least 300 x 200), and the screen where one is full screen,
// with the strip left above it. Only the window's own full-screen state
// counts: on X11 a maximised window on a screen without panels covers the
// screen just as well, and taking it for full screen would hide the bar
// for good.
struct LiveScan {
    bool onScreen = false;
    std::optional<int> fullScreenScreen;
    double strip = 0.0;
    bool operator==(const LiveScan&) const = default;
};
LiveScan scanLiveWindows(const std::vector<LiveWindow>& windows, const DesktopScreens& screens);

// The frame of Live's on-screen standard window that spans `x`, the
// largest when several do.
std::optional<DesktopRect> liveWindowAt(const std::vector<LiveWindow>& windows, double x);

// Whether a press at `pointer` grabs Live's top edge under the bar: within
// the bar horizontally, below its lower edge, and within 6 points below the
// bar (Live's window unknown) or between 4 above and 6 below Live's top.
bool grabsLiveTopEdge(DesktopPoint pointer, const DesktopRect& bar, const std::optional<DesktopRect>& live);

// The bar height that makes the bar's lower edge meet Live's top, rounded
// to a whole point. `barTop` is where the bar's drawing begins.
double heightMeetingLive(double barTop, const DesktopRect& live);

// Whether Live's window bottom still sits on the bottom of the visible frame
// (the user moved only its top edge).
bool liveReachesBottom(const DesktopRect& live, const DesktopRect& visible);

struct VisibilityInputs {
    bool liveRunning = false;
    bool standalone = false;
    bool floating = false;          // the effective mode
    bool followAbleton = true;
    bool liveOnScreen = false;
    bool liveFullScreen = false;    // on some screen
    bool escapeScreenExists = false;
};
// Whether the bar window is shown.
bool barShown(const VisibilityInputs& in);

}  // namespace crestline
