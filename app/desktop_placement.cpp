#include "app/desktop_placement.h"

#include <QColorSpace>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "app/x11_desktop.h"
#include "bar/bar_widget.h"
#include "platform/accessibility.h"

namespace crestline {

namespace {

std::optional<DesktopFrame> frameOf(const std::optional<DesktopRect>& rect) {
    if (!rect) return std::nullopt;
    return DesktopFrame{rect->x, rect->y, rect->width, rect->height};
}

}  // namespace

// Counts the bar widget's paint events: what reaches the screen, whatever
// asked for it (the display link, a resize, an expose).
class DesktopPlacement::FrameCounter final : public QObject {
public:
    std::uint64_t frames = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++frames;
        return QObject::eventFilter(watched, event);
    }
};

DesktopPlacement::DesktopPlacement(Settings& settings, BarView& view, PlacementHost& host, const Clock& clock,
                                   std::optional<std::vector<DesktopRect>> monitors)
    : host_(host),
      desktop_(std::make_unique<X11Desktop>(std::move(monitors))),
      placement_(std::make_unique<BarPlacement>(settings, view, host, *desktop_, accessibility(), clock)),
      frames_(std::make_unique<FrameCounter>()) {
    placement_->widget().installEventFilter(frames_.get());
    desktop_->onActivated = [this](std::optional<long> pid) {
        const auto live = host_.livePid();
        if (placement_ && live && pid == static_cast<long>(*live)) placement_->liveActivated();
    };
    desktop_->onButtons = [this] {
        if (placement_) placement_->pointerButtonsChanged();
    };
    // Screens come, go and change size: the bar is laid out anew. (Not on
    // a change of the available area: our own strut changes that.)
    const auto watch = [this](QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, frames_.get(), [this] {
            if (placement_) placement_->screensChanged();
        });
    };
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, frames_.get(), [this, watch](QScreen* screen) {
        watch(screen);
        if (placement_) placement_->screensChanged();
    });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, frames_.get(), [this] {
        if (placement_) placement_->screensChanged();
    });
}

DesktopPlacement::~DesktopPlacement() { shutDown(); }

void DesktopPlacement::applyBarMode() {
    if (placement_) placement_->applyBarMode();
}

void DesktopPlacement::layoutBar() {
    if (placement_) placement_->layoutBar();
}

void DesktopPlacement::updateVisibility() {
    if (placement_) placement_->updateVisibility();
}

void DesktopPlacement::refreshFullScreen() {
    if (placement_) placement_->refreshFullScreen();
}

void DesktopPlacement::fitStep() {
    if (placement_) placement_->fitLive();
}

void DesktopPlacement::setFillPending() {
    if (placement_) placement_->requestFill();
}

void DesktopPlacement::redraw() {
    if (placement_) placement_->widget().update();
}

void DesktopPlacement::wakeDisplay() {
    if (placement_) placement_->wakeDisplay();
}

void DesktopPlacement::reopen() {
    if (placement_) placement_->reopen();
}

void DesktopPlacement::selectionChanged(std::optional<ColorArea> module) {
    if (placement_) placement_->selectionChanged(module);
}

bool DesktopPlacement::floating() const { return !placement_ || placement_->floating(); }

bool DesktopPlacement::barShown() const { return placement_ && placement_->barShown(); }

std::optional<DesktopFrame> DesktopPlacement::barFrame() const {
    if (!placement_) return std::nullopt;
    return frameOf(placement_->barFrame());
}

std::optional<DesktopFrame> DesktopPlacement::liveWindowFrame() const {
    const auto pid = host_.livePid();
    if (!placement_ || !pid) return std::nullopt;
    const auto bar = placement_->barFrame();
    return frameOf(placement_->liveMainWindowFrame(*pid, bar ? bar->midX() : 0.0));
}

std::uint64_t DesktopPlacement::framesDrawn() const { return frames_ ? frames_->frames : 0; }

std::optional<std::string> DesktopPlacement::colourSpaceName() const {
    if (!placement_) return std::nullopt;
    const QWindow* window = placement_->windowInUse().windowHandle();
    if (window == nullptr) return std::nullopt;
    const QColorSpace space = window->format().colorSpace();
    if (!space.isValid()) return std::nullopt;
    return space.description().toStdString();
}

void DesktopPlacement::shutDown() {
    if (desktop_) {
        desktop_->onActivated = nullptr;
        desktop_->onButtons = nullptr;
    }
    // Windows first, then the desktop they were pinned on.
    if (placement_ && frames_) placement_->widget().removeEventFilter(frames_.get());
    frames_.reset();  // its connections go with it
    placement_.reset();
    desktop_.reset();
}

}  // namespace crestline
