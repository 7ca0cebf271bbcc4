// The accessibility layer over X11 with the EWMH conventions: another
// process's windows are the top-level windows whose _NET_WM_PID is its pid
// (from _NET_CLIENT_LIST_STACKING / _NET_CLIENT_LIST under a window manager,
// from a walk of the window tree without one), front-most first.
//
// A window answers "AXTitle" (_NET_WM_NAME, else WM_NAME), "AXPosition" and
// "AXSize" (the frame, _NET_FRAME_EXTENTS included, in root pixels taken as
// points), "AXMinimized" (_NET_WM_STATE_HIDDEN or an iconic WM_STATE),
// "AXFullScreen" (_NET_WM_STATE_FULLSCREEN), "AXMain" (the active window, or
// when another program is active the largest standard window of the
// process) and "AXSubrole" (from _NET_WM_WINDOW_TYPE). X11 knows no document
// paths and cannot see inside a window: "AXDocument", "AXDescription",
// "AXValue" and "AXChildren" answer `noValue`, and observers accept no
// notifications. Writing "AXPosition"/"AXSize" moves the frame
// (_NET_MOVERESIZE_WINDOW with a window manager, a plain configure without);
// the move is asynchronous under a window manager.
//
// All Xlib calls run on one worker thread with its own display connection;
// the calling thread waits at most the element's messaging time-out.
#pragma once

#include <memory>
#include <string>

#include "platform/accessibility.h"

namespace crestline {

class X11Accessibility final : public Accessibility {
public:
    // `display` names the X display; empty means $DISPLAY. The connection
    // opens on first use.
    explicit X11Accessibility(std::string display = {});
    ~X11Accessibility() override;
    X11Accessibility(const X11Accessibility&) = delete;
    X11Accessibility& operator=(const X11Accessibility&) = delete;

    // True when the display can be opened.
    bool isProcessTrusted() override;
    // Windows only: X11 knows nothing of what is inside them.
    bool reachesControls() const override { return false; }
    AXElementRef application(int pid) override;
    std::unique_ptr<AXObserver> createObserver(int pid, AXNotificationHandler handler) override;

    struct Connection;

private:
    std::shared_ptr<Connection> connection_;
};

}  // namespace crestline
