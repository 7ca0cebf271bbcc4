#include "bar/bar_widget.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "bar/bar_view.h"
#include "bar/hint_panel.h"
#include "bar/poof.h"

namespace crestline {

BarWidget::BarWidget(BarView& view, QWidget* parent)
    : QWidget(parent),
      view_(view),
      pointer_(std::make_unique<BarPointer>(view, static_cast<PointerHost&>(*this))),
      hintPanel_(std::make_unique<HintPanel>()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    // A click gives the bar the keyboard, so Delete reaches a selected module.
    setFocusPolicy(Qt::ClickFocus);
    link_.setTimerType(Qt::PreciseTimer);
    connect(&link_, &QTimer::timeout, this, [this] { tick(); });
    hintTimer_.setSingleShot(true);
    hintTimer_.setTimerType(Qt::PreciseTimer);
    connect(&hintTimer_, &QTimer::timeout, this, [this] { pointer_->hintTimerFired(); });
    view_.setBounds({static_cast<double>(width()), static_cast<double>(height())});
}

BarWidget::~BarWidget() {
    hintTimer_.stop();
    pointer_.reset();
}

QSize BarWidget::minimumSizeHint() const {
    return {static_cast<int>(std::ceil(view_.minimumWidth())), static_cast<int>(BarView::kMinimumHeight)};
}

QSize BarWidget::sizeHint() const { return {900, 36}; }

Point BarWidget::barPoint(QPointF widgetPosition) const {
    return {widgetPosition.x(), static_cast<double>(height()) - widgetPosition.y()};
}

QPointF BarWidget::widgetPosition(Point barPoint) const {
    return {barPoint.x, static_cast<double>(height()) - barPoint.y};
}

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
        pointer_->scrolled();
        update();
        event->accept();
        return;
    }
    QWidget::wheelEvent(event);
}

// ---- Pointer and keys ----------------------------------------------------------

BarPointer::Event BarWidget::eventOf(const QMouseEvent& event, int clicks) {
    lastPointer_ = event.globalPosition();
    return {barPoint(event.position()), event.globalPosition(), clicks};
}

void BarWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    pointer_->press(eventOf(*event));
    event->accept();
}

void BarWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    pressed_ = true;
    pointer_->press(eventOf(*event, 2));
    event->accept();
}

void BarWidget::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_ && event->buttons().testFlag(Qt::LeftButton)) {
        pointer_->drag(eventOf(*event));
    } else {
        pointer_->move(eventOf(*event));
    }
    event->accept();
}

void BarWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    pressed_ = false;
    pointer_->release(eventOf(*event));
    event->accept();
}

void BarWidget::leaveEvent(QEvent* event) {
    pointer_->leave();
    QWidget::leaveEvent(event);
}

void BarWidget::contextMenuEvent(QContextMenuEvent* event) {
    lastPointer_ = event->globalPos();
    const BarPointer::Event at{barPoint(event->pos()), QPointF(event->globalPos()), 1};
    if (pointer_->contextMenu(at)) {
        event->accept();
        return;
    }
    event->ignore();
}

void BarWidget::keyPressEvent(QKeyEvent* event) {
    if (pointer_->key(event->key())) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- PointerHost ---------------------------------------------------------------

void BarWidget::setCursor(PointerCursor cursor) {
    switch (cursor) {
        case PointerCursor::arrow: unsetCursor(); return;
        case PointerCursor::resizeLeftRight: QWidget::setCursor(Qt::SizeHorCursor); return;
        case PointerCursor::resizeUpDown: QWidget::setCursor(Qt::SizeVerCursor); return;
        case PointerCursor::openHand: QWidget::setCursor(Qt::OpenHandCursor); return;
        case PointerCursor::closedHand: QWidget::setCursor(Qt::ClosedHandCursor); return;
        case PointerCursor::pointingHand: QWidget::setCursor(Qt::PointingHandCursor); return;
        case PointerCursor::disappearingItem: QWidget::setCursor(Qt::ForbiddenCursor); return;
    }
}

QPointF BarWidget::toDesktop(Point at) const { return mapToGlobal(widgetPosition(at)); }

QRectF BarWidget::windowFrame() const { return QRectF(window()->geometry()); }

void BarWidget::setWindowFrame(const QRectF& frame) { window()->setGeometry(frame.toAlignedRect()); }

std::optional<QRectF> BarWidget::visibleScreenFrame(QPointF at) const {
    if (!isVisible()) return std::nullopt;
    QScreen* display = QGuiApplication::screenAt(at.toPoint());
    if (display == nullptr) display = screen();
    if (display == nullptr) return std::nullopt;
    return QRectF(display->availableGeometry());
}

void BarWidget::showHint(Hint hint, QPointF at, const QRectF& visible) {
    hintPanel_->showHint(hint, view_.barTheme(), at, visible);
}

void BarWidget::hideHint() { hintPanel_->hide(); }

void BarWidget::startHintTimer(double seconds) {
    hintTimer_.start(static_cast<int>(std::ceil(std::clamp(seconds, 0.0, 10.0) * 1000.0)));
}

void BarWidget::stopHintTimer() { hintTimer_.stop(); }

void BarWidget::poof(QPointF at) { showPoof(at.toPoint()); }

// ---- Display link --------------------------------------------------------------

void BarWidget::showEvent(QShowEvent* event) {
    startLink();
    QWidget::showEvent(event);
}

void BarWidget::hideEvent(QHideEvent* event) {
    link_.stop();
    pressed_ = false;
    pointer_->leftWindow();
    QWidget::hideEvent(event);
}

void BarWidget::startLink() {
    const QScreen* display = screen();
    const double rate = display != nullptr ? display->refreshRate() : 60.0;
    const double clamped = std::isfinite(rate) ? std::clamp(rate, 30.0, 60.0) : 60.0;
    link_.start(static_cast<int>(std::lround(1000.0 / clamped)));
}

void BarWidget::wake() {
    if (isVisible() && !link_.isActive()) startLink();
}

void BarWidget::tick() {
    if (view_.step()) {
        update();
        return;
    }
    link_.stop();
    if (onIdle) onIdle();
}

}  // namespace crestline
