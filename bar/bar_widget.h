// The widget that shows a BarView on screen: it paints the view at the
// screen's device pixel ratio, forwards size, wheel, mouse and key events
// (the gestures live in BarPointer, the hints in HintPanel), and runs the
// display link, a precise timer at the screen's refresh rate (30 to 60 Hz)
// that redraws only while the view asks for frames (audio or transport
// activity). Once the view asks for none the link stops, so an idle bar
// costs no wake-ups, and says so through `onIdle`; `wake` starts it again
// when activity returns. Main thread only.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "bar/bar_pointer.h"

namespace crestline {

class BarView;
class HintPanel;

class BarWidget final : public QWidget, private PointerHost {
public:
    explicit BarWidget(BarView& view, QWidget* parent = nullptr);
    ~BarWidget() override;

    BarView& view() { return view_; }
    BarPointer& pointer() { return *pointer_; }
    HintPanel& hintPanel() { return *hintPanel_; }
    // Called after every size change, once the view has the new bounds.
    std::function<void()> onResized;
    // The link stopped: nothing moves until `wake`.
    std::function<void()> onIdle;
    // Starts the link again while shown; the next tick decides whether the
    // view has anything to draw.
    void wake();
    bool linkRunning() const { return link_.isActive(); }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

    // The bar's point (points, y up) under a widget position, and back.
    Point barPoint(QPointF widgetPosition) const;
    QPointF widgetPosition(Point barPoint) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // PointerHost
    void redraw() override { update(); }
    void setCursor(PointerCursor cursor) override;
    QPointF toDesktop(Point at) const override;
    QPointF pointerPosition() const override { return lastPointer_; }
    QRectF windowFrame() const override;
    void setWindowFrame(const QRectF& frame) override;
    std::optional<QRectF> visibleScreenFrame(QPointF at) const override;
    void showHint(Hint hint, QPointF at, const QRectF& visible) override;
    void hideHint() override;
    void startHintTimer(double seconds) override;
    void stopHintTimer() override;
    void poof(QPointF at) override;

    BarPointer::Event eventOf(const QMouseEvent& event, int clicks = 1);
    void startLink();
    void tick();

    BarView& view_;
    std::unique_ptr<BarPointer> pointer_;
    std::unique_ptr<HintPanel> hintPanel_;
    QTimer link_;
    QTimer hintTimer_;
    bool pressed_ = false;  // the left button went down on the bar
    QPointF lastPointer_;   // desktop position of the latest pointer event
};

}  // namespace crestline
