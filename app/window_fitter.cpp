#include "app/window_fitter.h"

#include <cmath>

namespace crestline::WindowFitter {
namespace {

constexpr double kEdgeTolerance = 1.0;
constexpr double kTallerTolerance = 0.5;

struct Candidate {
    AXElementRef element;
    DesktopRect frame;
    int screen = 0;
    bool main = false;
};

// The height a window kept although asked for less: it took the target's
// place and width, and is more than 4 points taller, yet shorter than the
// visible frame (a window that has not moved yet can be that tall).
std::optional<double> refusal(const DesktopRect& frame, const DesktopRect& target, double visibleHeight) {
    const bool placed = std::abs(frame.left() - target.left()) < kEdgeTolerance &&
                        std::abs(frame.top() - target.top()) < kEdgeTolerance &&
                        std::abs(frame.width - target.width) < kEdgeTolerance;
    if (!placed || !(frame.height > target.height + kRefusalSlack) || frame.height >= visibleHeight) {
        return std::nullopt;
    }
    return frame.height;
}

}  // namespace

std::optional<DesktopRect> windowFrame(AXElement& window, double pixelsPerPoint) {
    const auto position = axPoint(window, "AXPosition");
    const auto size = axSize(window, "AXSize");
    if (!position || !size) return std::nullopt;
    const double k = pixelsPerPoint > 0.0 ? pixelsPerPoint : 1.0;
    const DesktopRect frame{position->x / k, position->y / k, size->width / k, size->height / k};
    if (!std::isfinite(frame.x) || !std::isfinite(frame.y) || !std::isfinite(frame.width) ||
        !std::isfinite(frame.height)) {
        return std::nullopt;
    }
    return frame;
}

std::optional<std::string> stringValue(AXElement& element, std::string_view attribute) {
    return axString(element, attribute);
}

bool matches(const DesktopRect& actual, const DesktopRect& target) {
    return std::abs(actual.left() - target.left()) < kEdgeTolerance &&
           std::abs(actual.top() - target.top()) < kEdgeTolerance &&
           std::abs(actual.width - target.width) < kEdgeTolerance && actual.height <= target.height + kTallerTolerance &&
           actual.height >= target.height - kRefusalSlack;
}

void apply(AXElement& window, const DesktopRect& target, double pixelsPerPoint) {
    const double k = pixelsPerPoint > 0.0 ? pixelsPerPoint : 1.0;
    const AXSize size{std::round(target.width * k), std::round(target.height * k)};
    window.setAttribute("AXSize", size);
    window.setAttribute("AXPosition", AXPoint{std::round(target.x * k), std::round(target.y * k)});
    window.setAttribute("AXSize", size);
}

bool place(AXElement& window, const DesktopRect& target, const DesktopRect& current, double pixelsPerPoint,
           std::optional<DesktopRect>& readBack) {
    readBack = current;
    if (matches(current, target)) return true;
    apply(window, target, pixelsPerPoint);
    readBack = windowFrame(window, pixelsPerPoint);
    if (readBack && matches(*readBack, target)) {
        readBack = windowFrame(window, pixelsPerPoint);
        return readBack && matches(*readBack, target);
    }
    DesktopRect shorter = target;
    shorter.height = std::max(target.height - kRetryShrink, kRetryMinimumHeight);
    apply(window, shorter, pixelsPerPoint);
    apply(window, target, pixelsPerPoint);
    readBack = windowFrame(window, pixelsPerPoint);
    return readBack && matches(*readBack, target);
}

std::optional<int> screen(const DesktopRect& frame, const DesktopScreens& screens) {
    return screenOverlapping(frame, screens);
}

std::optional<bool> hasFullScreen(Accessibility& ax, int pid) {
    if (pid <= 0 || !ax.isProcessTrusted()) return std::nullopt;
    const auto app = ax.application(pid);
    app->setMessagingTimeout(kMessagingTimeoutSeconds);
    const auto windows = axElements(*app, "AXWindows");
    if (!windows) return std::nullopt;
    bool any = false;
    for (const auto& window : *windows) {
        const auto full = axBool(*window, "AXFullScreen");
        if (!full) return std::nullopt;
        any = any || *full;
    }
    return any;
}

Result fit(Accessibility& ax, const Request& request, FitMemory& memory) {
    Result result;
    if (request.pid <= 0 || request.screens.empty() || !ax.isProcessTrusted()) return result;
    const auto app = ax.application(request.pid);
    app->setMessagingTimeout(kMessagingTimeoutSeconds);
    const auto windows = axElements(*app, "AXWindows");
    if (!windows) return result;

    std::optional<Candidate> main;
    std::optional<int> wideScreen;  // a wide standard window's screen, when none is main
    for (const auto& window : *windows) {
        if (stringValue(*window, "AXSubrole") != "AXStandardWindow") continue;
        if (axBool(*window, "AXFullScreen").value_or(false) || axBool(*window, "AXMinimized").value_or(false)) {
            continue;
        }
        const auto frame = windowFrame(*window, request.pixelsPerPoint);
        if (!frame) continue;
        const auto index = screen(*frame, request.screens);
        if (!index) continue;
        const bool isMain = axBool(*window, "AXMain").value_or(false);
        if (isMain && !stringValue(*window, "AXTitle").value_or(std::string()).empty()) {
            if (!main) main = Candidate{window, *frame, *index, true};
        } else if (!wideScreen && frame->width >= request.screens[static_cast<std::size_t>(*index)].frame.width / 2.0) {
            wideScreen = index;
        }
    }
    if (!main) {
        result.screen = wideScreen;
        memory = {};
        return result;
    }
    result.screen = main->screen;

    const DesktopRect& visible = request.screens[static_cast<std::size_t>(main->screen)].visible;
    const double barHeight = request.barHeight > 0.0 ? request.barHeight : 36.0;
    const DesktopRect target{visible.left(), visible.top() + barHeight, visible.width,
                             visible.bottom() - (visible.top() + barHeight)};
    if (!request.fill && !(main->frame.top() < target.top() - 0.5)) {
        // Below the bar already: leave it where the user put it.
        result.matched = matches(main->frame, target);
        memory = {};
        return result;
    }

    // A refusal seen across ticks: the frame read now is the one read after
    // the same request on the previous tick.
    if (memory.requested == target && memory.readBack == main->frame) {
        if (const auto kept = refusal(main->frame, target, visible.height)) {
            result.refusedHeight = kept;
            memory.readBack = main->frame;
            return result;
        }
    }

    std::optional<DesktopRect> readBack;
    result.matched = place(*main->element, target, main->frame, request.pixelsPerPoint, readBack);
    if (!result.matched && readBack && *readBack != main->frame) {
        // The request took effect at once: believe the height when a second
        // read agrees.
        const auto again = windowFrame(*main->element, request.pixelsPerPoint);
        if (again == readBack) result.refusedHeight = refusal(*readBack, target, visible.height);
    }
    memory.requested = target;
    memory.readBack = readBack;
    if (result.matched) memory = {};
    return result;
}

}  // namespace crestline::WindowFitter
