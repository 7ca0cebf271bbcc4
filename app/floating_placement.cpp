#include "app/floating_placement.h"

#include <QColorSpace>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <cmath>

#include "bar/bar_view.h"
#include "bar/bar_widget.h"
#include "settings/settings.h"

namespace crestline {

FloatingPlacement::FloatingPlacement(BarView& view, Settings& settings, PlacementHost& host)
    : view_(view), settings_(settings), host_(host) {
    view_.setDraggable(false);
    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle(QStringLiteral("Crestline"));
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    widget_ = new BarWidget(view_, window_.get());
    layout->addWidget(widget_);
    view_.onFrameChanged = [this] { fitMinimumWidth(); };
    widget_->onResized = [this] { fitMinimumWidth(); };
}

FloatingPlacement::~FloatingPlacement() { shutDown(); }

void FloatingPlacement::layoutBar() {
    if (!window_) return;
    const double width = std::max(settings_.floatingWidth(), 320.0);
    const double height = std::clamp(settings_.floatingHeight(), BarView::kMinimumHeight, BarView::kMaximumHeight);
    window_->resize(static_cast<int>(std::lround(width)), static_cast<int>(std::lround(height)));
    fitMinimumWidth();
}

void FloatingPlacement::updateVisibility() {
    if (!window_) return;
    const bool active = host_.standalone() || host_.livePid().has_value();
    if (active && !window_->isVisible()) window_->show();
    if (!active && window_->isVisible()) window_->hide();
}

void FloatingPlacement::redraw() {
    if (widget_ != nullptr) widget_->update();
}

bool FloatingPlacement::barShown() const { return window_ && window_->isVisible(); }

std::optional<DesktopFrame> FloatingPlacement::barFrame() const {
    if (!window_) return std::nullopt;
    const QRect frame = window_->geometry();
    return DesktopFrame{double(frame.x()), double(frame.y()), double(frame.width()), double(frame.height())};
}

std::optional<std::string> FloatingPlacement::colourSpaceName() const {
    if (!window_ || window_->windowHandle() == nullptr) return std::nullopt;
    const QColorSpace space = window_->windowHandle()->format().colorSpace();
    if (!space.isValid()) return std::nullopt;
    return space.description().toStdString();
}

void FloatingPlacement::fitMinimumWidth() {
    if (window_) window_->setMinimumWidth(static_cast<int>(std::ceil(view_.minimumWidth())));
}

void FloatingPlacement::shutDown() {
    if (!window_) return;
    view_.onFrameChanged = nullptr;
    widget_->onResized = nullptr;
    widget_ = nullptr;
    window_.reset();
}

}  // namespace crestline
