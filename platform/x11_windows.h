// Our own windows among the X11 window manager's, and the pointer and keys:
// what the pinned bar needs beyond Qt. Qt-free; windows are native ids.
//
// - `makeDock`: _NET_WM_WINDOW_TYPE_DOCK, on all desktops (_NET_WM_DESKTOP
//   0xFFFFFFFF), skipping task bar and pager, with _NET_WM_STRUT_PARTIAL
//   (and the older _NET_WM_STRUT) reserving a band at the top of the root.
// - `setAbove`: _NET_WM_STATE_ABOVE, as property before mapping and as a
//   request to the window manager after.
// - `struts`: the struts other programs' windows reserve, so the visible
//   frame of a screen can be computed without our own.
// - `activate`: _NET_ACTIVE_WINDOW and the input focus for another
//   process's window; `sendKey`: a key press and release through XTest.
// - `pointer`: where the pointer is and whether a button is held.
//
// Main thread (one connection of its own, opened on construction). Each
// call is one or a few round trips to the server.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace crestline {

// _NET_WM_STRUT_PARTIAL: left, right, top, bottom, then the start and end of
// each (left_start_y, left_end_y, right_start_y, right_end_y, top_start_x,
// top_end_x, bottom_start_x, bottom_end_x), in root pixels.
using StrutPartial = std::array<long, 12>;

struct RootRect {
    long x = 0;
    long y = 0;
    long width = 0;
    long height = 0;
    bool operator==(const RootRect&) const = default;
};

// The part of `monitor` that struts of a root of `rootWidth` x `rootHeight`
// leave free (EWMH: each strut is measured from the root's edge).
RootRect visibleArea(const RootRect& monitor, long rootWidth, long rootHeight, const std::vector<StrutPartial>& struts);

class X11Windows {
public:
    // `display` names the X display; empty means $DISPLAY.
    explicit X11Windows(const std::string& display = {});
    ~X11Windows();
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    bool available() const;
    bool windowManagerRuns();
    std::pair<long, long> rootSize();

    // `top` pixels reserved from the root's top edge over [startX, endX].
    void makeDock(std::uint64_t window, long top, long startX, long endX);
    void setAbove(std::uint64_t window, bool above);
    // Struts of every managed window but `except`.
    std::vector<StrutPartial> struts(std::uint64_t except);

    // The largest visible normal window of `pid`, front-most first; 0 when none.
    std::uint64_t mainWindowOf(long pid);
    bool activate(std::uint64_t window);
    // X keycode, press and release; false without XTest.
    bool sendKey(unsigned keycode);

    struct Pointer {
        long x = 0;
        long y = 0;
        bool buttonHeld = false;
    };
    std::optional<Pointer> pointer();

    struct Connection;

private:
    std::unique_ptr<Connection> connection_;
};

}  // namespace crestline
