// Where the bar is shown, and how Live's main window is fitted under it.
//
// Two windows can host the BarView: the pinned bar, a frameless dock across
// the full width of its screen at the top of the visible frame (under the
// desktop's own top panel), reserving its height with a strut, on all
// desktops and out of the task bar; and the floating window, an ordinary
// resizable window titled "Crestline by KESTO". The effective mode is
// floating when the application runs standalone or "barMode" is
// "floating", else pinned.
//
// Pinned, the bar comes and goes with Live (while "followAbleton" is on),
// steps aside to another screen (or hides) while Live is full screen, follows
// Live's window to another screen, follows Live's top edge when the user
// drags it, and each periodic tick fits Live's main window right under the
// bar (WindowFitter). While the pinned bar has the keyboard, keys go on to
// Live, except Ctrl shortcuts the main menu takes and Delete/Backspace with
// a module selected.
//
// Without an X11 display (Wayland without XWayland, offscreen) the bar runs
// floating only, with fitting and following off, and says so once in the log.
//
// The controller owns one BarPlacement and talks to it through the calls
// below; the placement asks the controller what it needs through
// `PlacementHost` and the desktop through `PlacementDesktop` (X11 and Qt for
// real use, a fake in tests).
//
// Main thread only. A periodic tick costs a few X11 round trips and, in
// pinned mode, a handful of accessibility requests to Live (each bounded
// by 0.25 s).
#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop_geometry.h"
#include "app/placement_geometry.h"
#include "app/window_fitter.h"
#include "settings/module_options.h"

class QWidget;

namespace crestline {

class Accessibility;
class BarView;
class BarWidget;
class Clock;
class Settings;

// A key pressed while the pinned bar has the keyboard.
struct KeyPress {
    int key = 0;                        // Qt::Key
    bool control = false;
    bool alt = false;
    bool shift = false;
    bool meta = false;
    std::uint32_t nativeKeycode = 0;    // the X11 keycode, replayed to Live
    bool operator==(const KeyPress&) const = default;
};

// The pointer anywhere on the desktop.
struct DesktopPointer {
    DesktopPoint position;
    bool buttonHeld = false;
};

// What the placement needs from the controller.
class PlacementHost {
public:
    virtual ~PlacementHost() = default;
    // The application runs without Live, measuring all sound.
    virtual bool standalone() const = 0;
    // Live's process id, or nothing when Live is not running.
    virtual std::optional<int> livePid() const = 0;
    // The bar's selection changed (hiding the bar clears it).
    virtual void selectionChanged(std::optional<ColorArea> /*module*/) {}
    // Offers a Ctrl shortcut to the main menu first; true when it took it.
    virtual bool menuShortcut(const KeyPress& /*key*/) { return false; }
    // A menu of ours is open: keys stay with it.
    virtual bool menuOpen() const { return false; }
    // The bar window was shown or hidden.
    virtual void barVisibilityChanged(bool /*shown*/) {}
    // The bar's display link stopped for lack of activity.
    virtual void displayIdle() {}
};

// What the placement needs from the desktop: screens, the pointer, our own
// windows' place among the window manager's windows, Live's windows, keys.
class PlacementDesktop {
public:
    virtual ~PlacementDesktop() = default;
    // False without an X11 display: floating only, no fitting or following.
    virtual bool hasX11() const = 0;
    // Primary screen first; visible frames exclude our own strut.
    virtual DesktopScreens screens() = 0;
    // Root pixels per point (the accessibility layer speaks pixels).
    virtual double pixelsPerPoint() const { return 1.0; }
    // Nothing when the pointer cannot be read.
    virtual std::optional<DesktopPointer> pointer() = 0;
    // Makes `window` (shown or about to be) the pinned dock at `frame`:
    // dock type, strut reserving its height at the top of its screen, all
    // desktops, no task bar or pager, and "above" while `above`.
    virtual void pinAsDock(QWidget& window, const DesktopRect& frame, bool above) = 0;
    // Brings Live's main window forward and gives it the keyboard.
    virtual bool activate(int pid) = 0;
    // Whether the desktop tells of every press and release of a pointer
    // button (`BarPlacement::pointerButtonsChanged`); else the placement
    // polls the pointer while it watches Live's top edge.
    virtual bool reportsButtons() const { return false; }
    // Replays a key (press and release) into Live, after activating it.
    virtual bool forwardKey(int pid, const KeyPress& key) = 0;
};

struct PlacementState {
    std::optional<DesktopRect> barScreen;        // frame of the screen last used for the pinned bar
    std::optional<DesktopRect> fullScreenScreen; // frame of the screen where Live is full screen
    double fullScreenStrip = 0.0;                // room left above Live's full-screen window
    bool liveOnScreen = false;
    bool liveEdgeHeld = false;                   // the user is dragging Live's top edge
    std::optional<DesktopRect> lastGapFrame;     // Live's frame when a gap under the bar was last handled
    bool fillPending = false;                    // a full fit is wanted
    int fillAttempts = 0;                        // ticks that have tried it
    FitMemory fitMemory;
};

class BarPlacement {
public:
    static constexpr const char* kFloatingTitle = "Crestline by KESTO";
    static constexpr int kMaxFillAttempts = 4;
    static constexpr int kEdgePollMilliseconds = 16;   // while Live's top edge is held
    static constexpr int kPressPollMilliseconds = 50;  // watching for a press on Live's top edge

    BarPlacement(Settings& settings, BarView& view, PlacementHost& host, PlacementDesktop& desktop,
                 Accessibility& accessibility, const Clock& clock);
    ~BarPlacement();
    BarPlacement(const BarPlacement&) = delete;
    BarPlacement& operator=(const BarPlacement&) = delete;

    // ---- Mode and layout ---------------------------------------------------
    bool floating() const;  // the effective mode
    // Puts the bar view into the window of the effective mode and sets that
    // window's kind (dock or normal window).
    void applyBarMode();
    // Computes and sets the window frame of the effective mode.
    void layoutBar();
    // Shows or hides the bar window (followAbleton, Live hidden, full screen).
    void updateVisibility();
    // Each periodic tick (not while a mouse button is held): Live's windows,
    // full screen and on-screen state, then visibility.
    void refreshFullScreen();
    // What Live's windows say now (nothing on screen when Live is not running).
    LiveScan scanLiveWindows();
    // Live's on-screen standard window that spans `x` (points).
    std::optional<DesktopRect> liveMainWindowFrame(int pid, double x);

    // ---- User actions ------------------------------------------------------
    // Height dragged on the bar (or repeated by the fitter), in points.
    void barHeightDragged(double height, bool finished);
    // The floating window moved or was resized by the user.
    void storeFloatingFrame();
    void setDetached(bool floating);
    void toggleDetached() { setDetached(!floating()); }
    // The module selection of the bar changed: in pinned mode a selection
    // gives the pinned bar the keyboard, clearing it gives it back to Live.
    void selectionChanged(std::optional<ColorArea> module);
    // A key pressed while the pinned bar has the keyboard; true when consumed.
    bool handleKey(const KeyPress& key);

    // ---- Ticks and notices from the controller -------------------------------
    // The fitting step of the periodic tick: gap check, fit, refused height,
    // fill bookkeeping, following Live to another screen. The controller
    // calls it in pinned mode, with Live running, not standalone, while no
    // mouse button is held; it checks "fillAbleton" itself.
    void fitLive();
    void noticeGapUnderBar(int pid);
    // Live appeared, the mode switched to pinned, or the bar moved screens:
    // the next fit gives Live's window the full target frame.
    void requestFill();
    // Live's window became active: bring the bar forward, refresh shortly.
    void liveActivated();
    // Screens were added, removed or changed.
    void screensChanged();
    // The user asked for the application again (launcher, tray).
    void reopen();
    // Activity may have returned: the stopped display link runs again.
    void wakeDisplay();
    // A pointer button went down or up anywhere on the desktop.
    void pointerButtonsChanged();

    // ---- State, for the controller's report and for tests ------------------
    const PlacementState& state() const { return state_; }
    bool barShown() const;
    // The frame of the window in use, in points; nothing before it exists.
    std::optional<DesktopRect> barFrame() const;
    QWidget& pinnedWindow();
    QWidget& floatingWindow();
    QWidget& windowInUse();
    BarWidget& widget();
    // Seams for tests: a pointer poll of Live's top edge, and the checks
    // that follow a release, without waiting for timers.
    void pollLiveEdge();
    // Sets the bar height so the bar's lower edge meets Live's top; false
    // when Live's window is not found or the height is out of bounds.
    bool followLiveTop();
    void followLiveTopCheck();

private:
    class PinnedWindow;
    class FloatingWindow;

    std::vector<LiveWindow> liveWindows(int pid);
    DesktopScreens screens();
    // The pinned bar's screen: barScreen while it exists, else the first.
    std::optional<int> pinnedScreenIndex(const DesktopScreens& screens) const;
    WindowFitter::Result fitOnce(int pid, bool fill);
    // Stores a refused height when it raises the recorded minimum; true then.
    bool recordRefusal(double height);
    void followLiveTopAfterRelease();
    void updateEdgeWatch();
    void setBarVisible(bool shown);
    void moveWidgetTo(QWidget& window);
    void setFrame(QWidget& window, const DesktopRect& frame);
    // Places the floating window's whole frame, decorations included.
    void setFloatingFrame(const DesktopRect& outer, const FrameMargins& margins);
    FrameMargins floatingMargins() const;
    bool liveFullScreen() const { return state_.fullScreenScreen.has_value(); }

    Settings& settings_;
    BarView& view_;
    PlacementHost& host_;
    PlacementDesktop& desktop_;
    Accessibility& accessibility_;
    const Clock& clock_;

    PlacementState state_;
    std::unique_ptr<PinnedWindow> pinned_;
    std::unique_ptr<FloatingWindow> floating_;
    BarWidget* widget_ = nullptr;  // owned by the window it sits in
    QTimer edgeTimer_;
    std::vector<std::unique_ptr<QTimer>> releaseChecks_;
    bool shown_ = false;
    bool applyingFrame_ = false;   // our own setGeometry, not the user's move
    bool panelTookKeys_ = false;   // a selection gave the pinned bar the keyboard
    bool repeatingDrag_ = false;   // a refused height repeats a drag once
    bool buttonWasHeld_ = false;   // at the last pointer poll
    bool edgeWatched_ = false;     // Live's top edge may be grabbed now
    FrameMargins knownMargins_;    // of the floating window, as last laid out for
    std::optional<DesktopPoint> lastFreePointer_;  // where the pointer was with no button held
};

}  // namespace crestline
