// The widget that shows a BarView on screen: it paints the view at the
// screen's device pixel ratio, forwards size and wheel events, and runs the
// display link, a precise timer at the screen's refresh rate (30 to 60 Hz)
// that redraws only while the view asks for frames (audio or transport
// activity). Main thread only.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

namespace crestline {

class BarView;

class BarWidget final : public QWidget {
public:
    explicit BarWidget(BarView& view, QWidget* parent = nullptr);

    BarView& view() { return view_; }
    // Called after every size change, once the view has the new bounds.
    std::function<void()> onResized;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startLink();
    void tick();

    BarView& view_;
    QTimer link_;
};

}  // namespace crestline
