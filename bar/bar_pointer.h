// The bar's gestures: everything the pointer and the keys do to the bar.
// Dividers resize modules (or spread the meter's columns), title bars move
// modules along the row or off it, gears and right-clicks open module
// menus, the add button its menu, readouts reset what they show; the bottom
// edge drags the bar's height and a free-floating strip is moved and sized
// by its edges. Resting on a module freezes it (where the user asked for
// that), resting on the spectrum holds its peaks, and the spectrum and the
// history read out what lies under the pointer. Resting 0.3 s on a part of
// the bar explains it in a hint panel.
//
// Layout settings are written straight to the store; everything else goes
// to the window owner through the view's callbacks. The geometry comes from
// the view's last frame (`BarView::layout`), in the bar's coordinates
// (points, y up); desktop positions are Qt's (points, y down).
//
// The window around the bar is reached through `PointerHost` (BarWidget in
// the application), so the gestures are the same whatever hosts them.
// Main thread only.
#pragma once

#include <QPointF>
#include <QRectF>
#include <memory>
#include <optional>

#include "bar/bar_menu.h"
#include "bar/bar_view.h"
#include "bar/hint.h"

namespace crestline {

enum class PointerCursor {
    arrow,
    resizeLeftRight,
    resizeUpDown,
    openHand,
    closedHand,
    pointingHand,
    disappearingItem,  // a module let go here leaves the bar
};

// What the gestures need from the window the bar sits in.
class PointerHost {
public:
    virtual ~PointerHost() = default;
    virtual void redraw() = 0;
    virtual void setCursor(PointerCursor cursor) = 0;
    // The desktop position of a point of the bar.
    virtual QPointF toDesktop(Point at) const = 0;
    // The pointer's desktop position now.
    virtual QPointF pointerPosition() const = 0;
    // The bar's window frame on the desktop; setting it resizes and moves
    // the window (a free-floating strip).
    virtual QRectF windowFrame() const = 0;
    virtual void setWindowFrame(const QRectF& frame) = 0;
    // The visible frame of the screen the bar is on; nothing while the bar
    // is in no window on a screen.
    virtual std::optional<QRectF> visibleScreenFrame(QPointF at) const = 0;
    // The hint panel and its 0.3 s timer.
    virtual void showHint(Hint hint, QPointF at, const QRectF& visible) = 0;
    virtual void hideHint() = 0;
    virtual void startHintTimer(double seconds) = 0;
    virtual void stopHintTimer() = 0;
    // The puff of a module dropped off the bar.
    virtual void poof(QPointF at) = 0;
};

class BarPointer {
public:
    static constexpr double kHintDelaySeconds = 0.3;
    static constexpr double kDropMargin = 4.0;      // above and below the bar, still a drop on it
    static constexpr double kMinimumPairWidth = 300.0;  // legacy splits need this much room
    static constexpr double kMinimumShare = 150.0;  // points each side of a legacy split keeps

    // One pointer event: where in the bar (points, y up), where on the
    // desktop (Qt's points, y down) and, for presses, 2 for a double click.
    struct Event {
        Point at;
        QPointF desktop;
        int clicks = 1;
    };

    BarPointer(BarView& view, PointerHost& host);
    ~BarPointer();
    BarPointer(const BarPointer&) = delete;
    BarPointer& operator=(const BarPointer&) = delete;

    // ---- Events ----------------------------------------------------------
    void press(const Event& event);
    void drag(const Event& event);
    void release(const Event& event);
    void move(const Event& event);
    void leave();
    // A right-click: true when a module's menu opened.
    bool contextMenu(const Event& event);
    // A key while the bar has the keyboard (Qt::Key): true when consumed.
    bool key(int qtKey);
    // The row scrolled, or the bar left its window.
    void scrolled() { cancelHint(); }
    void leftWindow();

    // ---- Hints ------------------------------------------------------------
    // Stops the timer and hides the panel.
    void cancelHint();
    // The timer fired: shows the pending hint once its rest is over (by the
    // view's clock), else waits the rest of it.
    void hintTimerFired();
    std::optional<Hint> pendingHint() const { return pendingHint_; }
    std::optional<Hint> shownHint() const { return shownHint_; }
    bool hintTimerRunning() const { return hintDueAt_.has_value(); }

    // ---- State ------------------------------------------------------------
    // Maps a point of the picture on screen to the bar's own layout: past a
    // notch the row is shown shifted right by the notch's width and margins.
    Point unmapNotch(Point at) const;
    Point mapNotch(Point at) const;
    std::optional<Grab> grab() const { return view_.pointer.grab; }
    bool pointerInside() const { return pointerInside_; }
    bool menuOpen() const { return menu_ && menu_->isOpen(); }
    std::optional<ColorArea> contextArea() const { return contextArea_; }
    PointerCursor cursor() const { return cursor_; }
    // Ends the spectrum hold; unless `keepFrozen`, a frozen module thaws.
    void endSpectrumGrab(bool keepFrozen);

private:
    bool heightHandleAt(Point p) const;
    std::optional<Grab> sideEdge(Point p) const;
    const TrailingLine* lineAt(Point p) const;
    // The module whose title-bar strip holds the point.
    std::optional<ColorArea> headArea(Point p) const;
    std::optional<ColorArea> moduleAt(Point p) const;
    bool insideDropBounds(Point p) const;
    PointerCursor hoverCursor(Point p) const;

    void select(std::optional<ColorArea> area);
    void popUp(std::unique_ptr<BarMenu> menu, Point at, std::optional<ColorArea> highlight);
    void dragDivider(const TrailingLine& line, double x);
    void trackHint(Point p);
    void freezeUnder(Point p);
    void unfreeze();
    void setCursor(PointerCursor cursor);

    BarView& view_;
    PointerHost& host_;

    bool pointerInside_ = false;
    bool splitHover_ = false;
    std::optional<ColorArea> contextArea_;
    PointerCursor cursor_ = PointerCursor::arrow;

    // The press being dragged: the desktop point and window frame at the
    // press, the bar's height then.
    QPointF grabMouse_;
    QRectF grabFrame_;
    double grabHeight_ = 0.0;
    std::optional<double> lastDragHeight_;  // asked of the window owner
    // A free-floating strip dragged by its body: what a click there resets
    // when the window did not move.
    bool windowDrag_ = false;
    bool windowMoved_ = false;
    std::optional<ResetTarget> pendingReset_;

    std::unique_ptr<BarMenu> menu_;

    std::optional<Hint> pendingHint_;
    std::optional<Hint> shownHint_;
    std::optional<double> hintDueAt_;  // the view's clock, seconds
};

}  // namespace crestline
