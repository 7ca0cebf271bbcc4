#include "app/placement_geometry.h"

#include <cmath>

namespace crestline {

using namespace placement;

std::optional<int> screenWithFrame(const DesktopScreens& screens, const std::optional<DesktopRect>& frame) {
    if (!frame) return std::nullopt;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        if (screens[i].frame == *frame) return static_cast<int>(i);
    }
    return std::nullopt;
}

std::optional<int> screenOf(const DesktopRect& frame, const DesktopScreens& screens) {
    if (screens.empty()) return std::nullopt;
    return screenOverlapping(frame, screens).value_or(0);
}

HeightBounds barHeightBounds(bool floating, double visibleHeight, std::optional<double> liveMinimumHeight) {
    if (floating) return {kMinimumBarHeight, std::max(kMinimumBarHeight, visibleHeight)};
    const double room = std::max(liveMinimumHeight.value_or(kLiveRoomMinimum), kLiveRoomMinimum);
    const double upper = std::min(visibleHeight - room, kPinnedMaximumHeight);
    return {kMinimumBarHeight, std::isfinite(upper) ? std::max(upper, kMinimumBarHeight) : kMinimumBarHeight};
}

std::optional<int> escapeScreen(const DesktopScreens& screens, std::optional<int> fullScreenScreen,
                                std::optional<int> barScreen) {
    if (!fullScreenScreen) return std::nullopt;
    if (barScreen && *barScreen != *fullScreenScreen && *barScreen >= 0 &&
        *barScreen < static_cast<int>(screens.size())) {
        return barScreen;
    }
    for (std::size_t i = 0; i < screens.size(); ++i) {
        if (static_cast<int>(i) != *fullScreenScreen) return static_cast<int>(i);
    }
    return std::nullopt;
}

DesktopPoint defaultFloatingOrigin(double width, double /*height*/, const DesktopScreens& screens) {
    if (screens.empty()) return {};
    const DesktopRect& visible = screens.front().visible;
    return {visible.midX() - width / 2.0, visible.top()};
}

DesktopRect clamped(const DesktopRect& frame, const DesktopScreens& screens) {
    if (screens.empty()) return frame;
    for (const auto& screen : screens) {
        if (screen.visible.intersects(frame)) return frame;
    }
    const DesktopRect& visible = screens.front().visible;
    DesktopRect result = frame;
    // Bounds first from the low side, so a frame larger than the screen
    // keeps its top-left corner reachable.
    result.x = std::max(std::min(frame.x, visible.right() - kReachableMargin), visible.left() - frame.width + kReachableMargin);
    result.y = std::max(std::min(frame.y, visible.bottom() - frame.height), visible.top());
    return result;
}

DesktopRect floatingFrame(const FloatingValues& stored, const DesktopScreens& screens, const FrameMargins& margins) {
    const double width = std::max(stored.width > 0.0 ? stored.width : kDefaultFloatingWidth, kFloatingMinimumWidth) +
                         margins.left + margins.right;
    const double height = (stored.height > 0.0 ? stored.height : kDefaultBarHeight) + margins.top + margins.bottom;
    const DesktopPoint origin = stored.origin.value_or(defaultFloatingOrigin(width, height, screens));
    DesktopRect frame = clamped({origin.x, origin.y, width, height}, screens);
    // A title bar above the screen's top could not be grabbed to move the window back.
    if (const auto index = screenOf(frame, screens)) {
        const DesktopRect& visible = screens[static_cast<std::size_t>(*index)].visible;
        if (frame.y < visible.top()) frame.y = visible.top();
    }
    return frame;
}

DesktopRect firstFloatingFrame(const DesktopScreen& screen, double height) {
    const DesktopRect& visible = screen.visible;
    const double width = std::max(std::min(visible.width - kReachableMargin, kFirstFloatingMaximumWidth),
                                  kFloatingMinimumWidth);
    const double h = height > 0.0 ? height : kDefaultBarHeight;
    return {visible.midX() - width / 2.0, visible.top() + kFirstFloatingDrop, width, h};
}

DesktopRect pinnedFrame(const DesktopScreen& screen, double barHeight) {
    const double h = barHeight > 0.0 ? barHeight : kDefaultBarHeight;
    return {screen.frame.left(), screen.visible.top(), screen.frame.width, h};
}

LiveScan scanLiveWindows(const std::vector<LiveWindow>& windows, const DesktopScreens& screens) {
    LiveScan scan;
    for (const auto& window : windows) {
        if (!window.standard || window.minimised || window.frame.isEmpty()) continue;
        if (window.frame.width >= kLiveOnScreenWidth && window.frame.height >= kLiveOnScreenHeight) scan.onScreen = true;
        if (scan.fullScreenScreen || !window.fullScreen) continue;
        scan.fullScreenScreen = screenOf(window.frame, screens);
        if (scan.fullScreenScreen) {
            scan.strip = std::max(0.0, window.frame.top() - screens[*scan.fullScreenScreen].frame.top());
        }
    }
    return scan;
}

std::optional<DesktopRect> liveWindowAt(const std::vector<LiveWindow>& windows, double x) {
    std::optional<DesktopRect> best;
    for (const auto& window : windows) {
        if (!window.standard || window.minimised || window.frame.isEmpty()) continue;
        if (x < window.frame.left() || x >= window.frame.right()) continue;
        if (!best || window.frame.width * window.frame.height > best->width * best->height) best = window.frame;
    }
    return best;
}

bool grabsLiveTopEdge(DesktopPoint pointer, const DesktopRect& bar, const std::optional<DesktopRect>& live) {
    if (pointer.x < bar.left() || pointer.x > bar.right()) return false;
    if (pointer.y < bar.bottom()) return false;
    if (!live) return pointer.y <= bar.bottom() + kEdgeGrabBelow;
    return pointer.y >= live->top() - kEdgeGrabAbove && pointer.y <= live->top() + kEdgeGrabBelow;
}

double heightMeetingLive(double barTop, const DesktopRect& live) { return std::round(live.top() - barTop); }

bool liveReachesBottom(const DesktopRect& live, const DesktopRect& visible) {
    return std::abs(live.bottom() - visible.bottom()) <= kBottomTolerance;
}

bool barShown(const VisibilityInputs& in) {
    const bool active = in.liveRunning || in.standalone;
    const bool inTheWay = in.liveFullScreen && !in.escapeScreenExists;
    if (!in.followAbleton) return in.floating || !inTheWay;
    if (!active) return false;
    if (in.liveOnScreen) return in.floating || !inTheWay;
    return in.floating;
}

}  // namespace crestline
