#include "bar/bar_widget.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "bar/bar_view.h"

namespace crestline {

BarWidget::BarWidget(BarView& view, QWidget* parent) : QWidget(parent), view_(view) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    link_.setTimerType(Qt::PreciseTimer);
    connect(&link_, &QTimer::timeout, this, [this] { tick(); });
    view_.setBounds({static_cast<double>(width()), static_cast<double>(height())});
}

QSize BarWidget::minimumSizeHint() const {
    return {static_cast<int>(std::ceil(view_.minimumWidth())), static_cast<int>(BarView::kMinimumHeight)};
}

QSize BarWidget::sizeHint() const { return {900, 36}; }

void BarWidget::paintEvent(QPaintEvent*) {
    view_.setBounds({static_cast<double>(width()), static_cast<double>(height())});
    view_.setScale(devicePixelRatioF());
    QPainter painter(this);
    view_.paint(painter);
}

void BarWidget::resizeEvent(QResizeEvent* event) {
    view_.setBounds({static_cast<double>(width()), static_cast<double>(height())});
    QWidget::resizeEvent(event);
    if (onResized) onResized();
}

void BarWidget::wheelEvent(QWheelEvent* event) {
    // Pixel deltas come from trackpads (precise); angle deltas from wheels,
    // in eighths of a degree: one notch of 15° counts as one line.
    const bool precise = !event->pixelDelta().isNull();
    const QPointF delta = precise ? QPointF(event->pixelDelta()) : QPointF(event->angleDelta()) / 120.0;
    // Qt's y grows downwards and its wheel gives positive values away from
    // the user; the view scrolls content left for positive deltas.
    if (view_.scrollWheel(delta.x(), delta.y(), precise)) {
        update();
        event->accept();
        return;
    }
    QWidget::wheelEvent(event);
}

void BarWidget::showEvent(QShowEvent* event) {
    startLink();
    QWidget::showEvent(event);
}

void BarWidget::hideEvent(QHideEvent* event) {
    link_.stop();
    QWidget::hideEvent(event);
}

void BarWidget::startLink() {
    const QScreen* display = screen();
    const double rate = display != nullptr ? display->refreshRate() : 60.0;
    const double clamped = std::isfinite(rate) ? std::clamp(rate, 30.0, 60.0) : 60.0;
    link_.start(static_cast<int>(std::lround(1000.0 / clamped)));
}

void BarWidget::tick() {
    if (view_.step()) update();
}

}  // namespace crestline
