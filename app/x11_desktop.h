// The desktop of a real session for BarPlacement: screens from Qt (their
// visible frames computed from other programs' struts when X11 runs, so our
// own strut never shrinks the bar's place), the pointer, our windows'
// dock properties and key replay through X11 (platform/x11_windows.h).
//
// Without an X11 display (Qt on Wayland or offscreen) `hasX11` is false and
// the X11 calls do nothing.
//
// Main thread; needs a QGuiApplication.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/bar_placement.h"
#include "platform/x11_root_watch.h"
#include "platform/x11_windows.h"

class QSocketNotifier;

namespace crestline {

// Call before the QApplication exists. In a Wayland session with XWayland
// (DISPLAY set), asks Qt for its X11 platform unless QT_QPA_PLATFORM chooses
// one: only through X11 can the bar be pinned and Live's window fitted
// (Live under Wine is an X11 client there too). True when it chose xcb.
bool preferX11Platform();

class X11Desktop final : public PlacementDesktop {
public:
    // `monitors` (points) stands in for Qt's screens where the X server
    // cannot show several (a test's Xvfb): visible frames still come from
    // the struts on the root.
    explicit X11Desktop(std::optional<std::vector<DesktopRect>> monitors = std::nullopt);
    ~X11Desktop() override;

    bool hasX11() const override;
    DesktopScreens screens() override;
    double pixelsPerPoint() const override;
    std::optional<DesktopPointer> pointer() override;
    void pinAsDock(QWidget& window, const DesktopRect& frame, bool above) override;
    bool activate(int pid) override;
    bool forwardKey(int pid, const KeyPress& key) override;
    bool reportsButtons() const override;

    // Told as the desktop's events arrive (main thread): a window became
    // active (its process, when it names one); a button went down or up.
    std::function<void(std::optional<long> pid)> onActivated;
    std::function<void()> onButtons;

private:
    std::optional<std::vector<DesktopRect>> monitors_;
    std::unique_ptr<X11Windows> x11_;  // null without an X11 display
    std::unique_ptr<X11RootWatch> watch_;
    std::unique_ptr<QSocketNotifier> watchNotifier_;
    std::uint64_t ownDock_ = 0;        // our pinned bar's window, whose strut is ours
    // One tick asks for the screens several times; other programs' panels
    // are read from the server at most this often (each costs a request
    // per managed window).
    static constexpr std::chrono::milliseconds kStrutsLifetime{250};
    std::optional<std::chrono::steady_clock::time_point> strutsRead_;
    std::vector<StrutPartial> struts_;
    std::pair<long, long> root_{0, 0};
};

}  // namespace crestline
