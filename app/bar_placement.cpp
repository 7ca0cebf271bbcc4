#include "app/bar_placement.h"

#include <QKeyEvent>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>

#include "bar/bar_view.h"
#include "bar/bar_widget.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "settings/settings.h"

namespace crestline {
namespace {

constexpr int kActivatedRefreshMilliseconds = 150;
// Live may still settle its frame after the user lets go of its top edge.
constexpr int kReleaseCheckMilliseconds[] = {0, 30, 80, 150, 300, 500};

DesktopRect rectOf(const QRect& r) {
    return {static_cast<double>(r.x()), static_cast<double>(r.y()), static_cast<double>(r.width()),
            static_cast<double>(r.height())};
}

QRect qRectOf(const DesktopRect& r) {
    return {static_cast<int>(std::lround(r.x)), static_cast<int>(std::lround(r.y)),
            static_cast<int>(std::lround(r.width)), static_cast<int>(std::lround(r.height))};
}

KeyPress keyPressOf(const QKeyEvent& event) {
    const auto modifiers = event.modifiers();
    return {event.key(),
            modifiers.testFlag(Qt::ControlModifier),
            modifiers.testFlag(Qt::AltModifier),
            modifiers.testFlag(Qt::ShiftModifier),
            modifiers.testFlag(Qt::MetaModifier),
            event.nativeScanCode()};
}

// The window's size is ours to set: the bar's minimum width must not widen
// a pinned bar past its screen.
QVBoxLayout* bareLayout(QWidget& window) {
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    return layout;
}

}  // namespace

// The pinned bar: frameless, made a dock by the desktop layer; it shows
// without taking the keyboard, and keys it does get go on to Live.
class BarPlacement::PinnedWindow final : public QWidget {
public:
    explicit PinnedWindow(BarPlacement& owner) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), owner_(owner) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setWindowTitle(QStringLiteral("Crestline"));
        bareLayout(*this);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (owner_.handleKey(keyPressOf(*event))) {
            event->accept();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        // The selection's highlight depends on having the keyboard.
        update();
        QWidget::focusOutEvent(event);
    }

private:
    BarPlacement& owner_;
};

// The floating window: an ordinary window the user moves and resizes; its
// frame is stored as it changes.
class BarPlacement::FloatingWindow final : public QWidget {
public:
    explicit FloatingWindow(BarPlacement& owner) : QWidget(nullptr, Qt::Window), owner_(owner) {
        setWindowTitle(QString::fromUtf8(kFloatingTitle));
        setMinimumSize(static_cast<int>(placement::kFloatingMinimumWidth), static_cast<int>(placement::kMinimumBarHeight));
        bareLayout(*this);
    }

protected:
    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        if (isVisible()) owner_.storeFloatingFrame();
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (isVisible()) owner_.storeFloatingFrame();
    }

private:
    BarPlacement& owner_;
};

BarPlacement::BarPlacement(Settings& settings, BarView& view, PlacementHost& host, PlacementDesktop& desktop,
                           Accessibility& accessibility, const Clock& clock)
    : settings_(settings),
      view_(view),
      host_(host),
      desktop_(desktop),
      accessibility_(accessibility),
      clock_(clock),
      pinned_(std::make_unique<PinnedWindow>(*this)),
      floating_(std::make_unique<FloatingWindow>(*this)) {
    widget_ = new BarWidget(view_, floating_.get());
    floating_->layout()->addWidget(widget_);
    view_.setDraggable(false);
    view_.onHeightDrag = [this](double height, bool finished) { barHeightDragged(height, finished); };
    widget_->onIdle = [this] { host_.displayIdle(); };
    edgeTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&edgeTimer_, &QTimer::timeout, [this] { pollLiveEdge(); });
    if (!desktop_.hasX11()) {
        log("Crestline: no X11 display; the bar floats on its own and does not follow Live's window");
    }
}

BarPlacement::~BarPlacement() {
    edgeTimer_.stop();
    view_.onHeightDrag = nullptr;
    // The widget belongs to whichever window holds it; both go here.
    floating_.reset();
    pinned_.reset();
}

bool BarPlacement::floating() const {
    return host_.standalone() || settings_.barMode() == BarMode::floating || !desktop_.hasX11();
}

DesktopScreens BarPlacement::screens() { return desktop_.screens(); }

std::optional<int> BarPlacement::pinnedScreenIndex(const DesktopScreens& screens) const {
    if (screens.empty()) return std::nullopt;
    return screenWithFrame(screens, state_.barScreen).value_or(0);
}

QWidget& BarPlacement::pinnedWindow() { return *pinned_; }
QWidget& BarPlacement::floatingWindow() { return *floating_; }
QWidget& BarPlacement::windowInUse() { return floating() ? static_cast<QWidget&>(*floating_) : *pinned_; }
BarWidget& BarPlacement::widget() { return *widget_; }
bool BarPlacement::barShown() const { return shown_; }

std::optional<DesktopRect> BarPlacement::barFrame() const {
    // Floating, the window manager's frame is part of the window on screen.
    if (floating()) return rectOf(floating_->frameGeometry());
    return rectOf(pinned_->geometry());
}

void BarPlacement::moveWidgetTo(QWidget& window) {
    if (widget_->parentWidget() == &window) return;
    widget_->setParent(&window);
    window.layout()->addWidget(widget_);
    widget_->show();
}

FrameMargins BarPlacement::floatingMargins() const {
    // Known once the window manager framed the window; none before.
    const QRect outer = floating_->frameGeometry();
    const QRect inner = floating_->geometry();
    if (!floating_->isVisible() || outer == inner) return {};
    return {static_cast<double>(inner.left() - outer.left()), static_cast<double>(inner.top() - outer.top()),
            static_cast<double>(outer.right() - inner.right()), static_cast<double>(outer.bottom() - inner.bottom())};
}

void BarPlacement::setFloatingFrame(const DesktopRect& outer, const FrameMargins& margins) {
    const QRect wanted = qRectOf(outer);
    const QSize inner(static_cast<int>(std::lround(outer.width - margins.left - margins.right)),
                      static_cast<int>(std::lround(outer.height - margins.top - margins.bottom)));
    if (floating_->frameGeometry().topLeft() == wanted.topLeft() && floating_->size() == inner) return;
    applyingFrame_ = true;
    floating_->resize(inner);
    // A move places the whole frame (the window manager puts its title bar
    // at this point), where setGeometry would place the window's own area.
    floating_->move(wanted.topLeft());
    applyingFrame_ = false;
}

void BarPlacement::setFrame(QWidget& window, const DesktopRect& frame) {
    const QRect wanted = qRectOf(frame);
    if (window.geometry() == wanted) return;
    applyingFrame_ = true;
    window.setGeometry(wanted);
    applyingFrame_ = false;
}

// ---- Mode and layout -------------------------------------------------------

void BarPlacement::applyBarMode() {
    QWidget& target = windowInUse();
    QWidget& other = floating() ? static_cast<QWidget&>(*pinned_) : *floating_;
    if (widget_->parentWidget() != &target) {
        const bool otherVisible = other.isVisible();
        other.hide();
        moveWidgetTo(target);
        if (otherVisible) {
            target.show();
            target.raise();
        }
    }
    view_.setDraggable(false);
    view_.setHasTitleBar(floating());
    updateEdgeWatch();
}

void BarPlacement::layoutBar() {
    const DesktopScreens all = screens();
    if (all.empty()) return;
    const double height = settings_.barHeight() > 0.0 ? settings_.barHeight() : placement::kDefaultBarHeight;
    if (floating()) {
        view_.setTopInset(0.0);
        view_.setHeightHandle(!floating_->isFullScreen());
        if (floating_->isFullScreen()) return;
        const auto origin = settings_.floatingOrigin();
        FloatingValues stored;
        if (origin) stored.origin = DesktopPoint{origin->x, origin->y};
        stored.width = settings_.floatingWidth();
        stored.height = settings_.floatingHeight();
        const FrameMargins margins = floatingMargins();
        setFloatingFrame(floatingFrame(stored, all, margins), margins);
        return;
    }
    std::optional<int> index = pinnedScreenIndex(all);
    if (liveFullScreen()) {
        index = escapeScreen(all, screenWithFrame(all, state_.fullScreenScreen), index);
        if (!index) return;
    }
    const DesktopRect frame = pinnedFrame(all[static_cast<std::size_t>(*index)], height);
    view_.setTopInset(0.0);
    view_.setNotchGap(std::nullopt);
    // Fitted, Live's top edge sizes the bar; otherwise its own bottom edge.
    view_.setHeightHandle(!settings_.fitAbleton());
    setFrame(*pinned_, frame);
    // Above everything while Live covers another screen; a plain dock else.
    desktop_.pinAsDock(*pinned_, frame, liveFullScreen());
}

void BarPlacement::updateVisibility() {
    const DesktopScreens all = screens();
    VisibilityInputs in;
    in.liveRunning = host_.livePid().has_value();
    in.standalone = host_.standalone();
    in.floating = floating();
    in.followAbleton = settings_.followAbleton();
    in.liveOnScreen = state_.liveOnScreen;
    in.liveFullScreen = liveFullScreen();
    in.escapeScreenExists = escapeScreen(all, screenWithFrame(all, state_.fullScreenScreen), pinnedScreenIndex(all)).has_value();
    setBarVisible(crestline::barShown(in));
}

void BarPlacement::setBarVisible(bool shown) {
    QWidget& window = windowInUse();
    QWidget& other = floating() ? static_cast<QWidget&>(*pinned_) : *floating_;
    if (other.isVisible()) other.hide();
    if (shown) {
        if (!window.isVisible()) {
            moveWidgetTo(window);
            window.show();
        }
        window.raise();
    } else if (window.isVisible()) {
        window.hide();
        if (view_.pointer.selectedArea) {
            view_.pointer.selectedArea.reset();
            host_.selectionChanged(std::nullopt);
        }
    }
    if (shown != shown_) {
        shown_ = shown;
        host_.barVisibilityChanged(shown);
    }
    updateEdgeWatch();
}

std::vector<LiveWindow> BarPlacement::liveWindows(int pid) {
    std::vector<LiveWindow> result;
    if (pid <= 0 || !desktop_.hasX11()) return result;
    const auto app = accessibility_.application(pid);
    app->setMessagingTimeout(WindowFitter::kMessagingTimeoutSeconds);
    const auto windows = axElements(*app, "AXWindows");
    if (!windows) return result;
    for (const auto& window : *windows) {
        const auto frame = WindowFitter::windowFrame(*window, desktop_.pixelsPerPoint());
        if (!frame) continue;
        result.push_back({*frame, axBool(*window, "AXMinimized").value_or(false),
                          axBool(*window, "AXFullScreen").value_or(false),
                          axString(*window, "AXSubrole").value_or("AXStandardWindow") == "AXStandardWindow"});
    }
    return result;
}

LiveScan BarPlacement::scanLiveWindows() {
    const auto pid = host_.livePid();
    if (!pid) return {};
    return crestline::scanLiveWindows(liveWindows(*pid), screens());
}

std::optional<DesktopRect> BarPlacement::liveMainWindowFrame(int pid, double x) {
    return liveWindowAt(liveWindows(pid), x);
}

void BarPlacement::refreshFullScreen() {
    if (const auto pointer = desktop_.pointer(); pointer && pointer->buttonHeld) return;
    const DesktopScreens all = screens();
    LiveScan scan = scanLiveWindows();
    // A floating bar stays where the user put it whatever Live does.
    if (floating()) {
        scan.fullScreenScreen.reset();
        scan.strip = 0.0;
    }
    std::optional<DesktopRect> fullScreen;
    if (scan.fullScreenScreen) fullScreen = all[static_cast<std::size_t>(*scan.fullScreenScreen)].frame;
    const bool fullScreenChanged = fullScreen != state_.fullScreenScreen || scan.strip != state_.fullScreenStrip;
    state_.liveOnScreen = scan.onScreen;
    if (fullScreenChanged) {
        state_.fullScreenScreen = fullScreen;
        state_.fullScreenStrip = scan.strip;
        applyBarMode();
        layoutBar();
    }
    updateVisibility();
}

// ---- User actions ------------------------------------------------------------

void BarPlacement::barHeightDragged(double height, bool finished) {
    const DesktopScreens all = screens();
    if (all.empty() || !std::isfinite(height)) return;
    const bool isFloating = floating();
    std::size_t index = 0;
    if (isFloating) {
        index = static_cast<std::size_t>(screenOf(rectOf(floating_->geometry()), all).value_or(0));
    } else {
        index = static_cast<std::size_t>(pinnedScreenIndex(all).value_or(0));
    }
    const HeightBounds bounds = barHeightBounds(isFloating, all[index].visible.height, settings_.liveMinimumHeight());
    const double bounded = std::clamp(height, bounds.lower, bounds.upper);
    if (isFloating) {
        // The window keeps its top edge and grows downwards.
        const QRect now = floating_->geometry();
        const QPoint origin = floating_->frameGeometry().topLeft();
        settings_.setFloatingOrigin(Point{static_cast<double>(origin.x()), static_cast<double>(origin.y())});
        settings_.setFloatingSize(static_cast<double>(now.width()), bounded);
    } else {
        settings_.setBarHeight(bounded);
    }
    layoutBar();
    widget_->update();

    if (!finished || isFloating || !settings_.fitAbleton() || liveFullScreen() || !desktop_.hasX11()) return;
    const auto pid = host_.livePid();
    if (!pid) return;
    const auto result = fitOnce(*pid, true);
    // A refusal repeats the drag once, and only when it lowered the bound.
    if (result.refusedHeight && recordRefusal(*result.refusedHeight) && !repeatingDrag_) {
        repeatingDrag_ = true;
        barHeightDragged(settings_.barHeight(), true);
        repeatingDrag_ = false;
    }
}

bool BarPlacement::recordRefusal(double height) {
    if (!(height > 0.0) || !std::isfinite(height)) return false;
    const auto stored = settings_.liveMinimumHeight();
    if (stored && height <= *stored) return false;
    settings_.setLiveMinimumHeight(height);
    return true;
}

void BarPlacement::storeFloatingFrame() {
    if (applyingFrame_ || !floating() || floating_->isFullScreen()) return;
    // The window manager framed the window (or changed its frame): lay it
    // out again, for the frame it planned without counts now.
    if (const FrameMargins margins = floatingMargins(); margins != knownMargins_) {
        knownMargins_ = margins;
        layoutBar();
        return;
    }
    // The origin is the whole frame's, the size the window's own area: what
    // layoutBar puts back together.
    const QRect frame = floating_->geometry();
    const QPoint origin = floating_->frameGeometry().topLeft();
    settings_.setFloatingOrigin(Point{static_cast<double>(origin.x()), static_cast<double>(origin.y())});
    settings_.setFloatingSize(static_cast<double>(frame.width()),
                              std::max(static_cast<double>(frame.height()), placement::kMinimumBarHeight));
    view_.setTopInset(0.0);
}

void BarPlacement::setDetached(bool toFloating) {
    settings_.setBarMode(toFloating ? BarMode::floating : BarMode::pinned);
    if (toFloating) {
        if (!settings_.floatingOrigin()) {
            const DesktopScreens all = screens();
            if (!all.empty()) {
                const auto index = floating_->isVisible() ? screenOf(rectOf(floating_->geometry()), all) : std::nullopt;
                const DesktopRect first =
                    firstFloatingFrame(all[static_cast<std::size_t>(index.value_or(0))], settings_.floatingHeight());
                settings_.setFloatingOrigin(Point{first.x, first.y});
                settings_.setFloatingSize(first.width, settings_.floatingHeight());
            }
        }
        applyBarMode();
        layoutBar();
    } else {
        requestFill();
        applyBarMode();
        layoutBar();
        if (settings_.fitAbleton() && desktop_.hasX11() && !floating()) {
            if (const auto pid = host_.livePid()) fitOnce(*pid, true);
        }
    }
    updateVisibility();
}

void BarPlacement::selectionChanged(std::optional<ColorArea> module) {
    if (floating()) return;
    if (module) {
        if (pinned_->isVisible()) {
            pinned_->activateWindow();
            widget_->setFocus(Qt::OtherFocusReason);
            panelTookKeys_ = true;
        }
        return;
    }
    if (panelTookKeys_) {
        panelTookKeys_ = false;
        if (const auto pid = host_.livePid()) desktop_.activate(*pid);
    }
}

bool BarPlacement::handleKey(const KeyPress& key) {
    if (floating() || host_.standalone() || host_.menuOpen()) return false;
    if ((key.control || key.meta) && host_.menuShortcut(key)) return true;
    if (view_.pointer.selectedArea && (key.key == Qt::Key_Delete || key.key == Qt::Key_Backspace)) return false;
    const auto pid = host_.livePid();
    if (!pid) return false;
    desktop_.forwardKey(*pid, key);
    return true;
}

// ---- Ticks and notices ---------------------------------------------------------

WindowFitter::Result BarPlacement::fitOnce(int pid, bool fill) {
    WindowFitter::Request request;
    request.pid = pid;
    request.barHeight = settings_.barHeight() > 0.0 ? settings_.barHeight() : placement::kDefaultBarHeight;
    request.fill = fill;
    request.screens = screens();
    request.pixelsPerPoint = desktop_.pixelsPerPoint();
    return WindowFitter::fit(accessibility_, request, state_.fitMemory);
}

void BarPlacement::fitLive() {
    const auto pid = host_.livePid();
    if (!pid || host_.standalone() || floating() || !settings_.fitAbleton() || !desktop_.hasX11()) return;
    if (liveFullScreen()) return;
    noticeGapUnderBar(*pid);
    const DesktopScreens all = screens();
    const auto result = fitOnce(*pid, state_.fillPending);
    if (result.refusedHeight) {
        if (recordRefusal(*result.refusedHeight)) barHeightDragged(settings_.barHeight(), true);
        return;
    }
    if (state_.fillPending) {
        ++state_.fillAttempts;
        if (result.matched || state_.fillAttempts >= kMaxFillAttempts) {
            state_.fillPending = false;
            state_.fillAttempts = 0;
        }
    }
    if (result.screen && *result.screen < static_cast<int>(all.size())) {
        const DesktopRect& frame = all[static_cast<std::size_t>(*result.screen)].frame;
        if (state_.barScreen != frame) {
            // Follow Live to the screen its window is on.
            state_.barScreen = frame;
            requestFill();
            layoutBar();
        }
    }
}

void BarPlacement::noticeGapUnderBar(int pid) {
    if (state_.fillPending || state_.liveEdgeHeld || liveFullScreen() || floating() || !pinned_->isVisible()) return;
    const DesktopRect bar = rectOf(pinned_->geometry());
    const auto live = liveMainWindowFrame(pid, bar.midX());
    if (!live || live->right() <= bar.left() || live->left() >= bar.right()) return;
    if (!(live->top() - bar.bottom() > placement::kGapTolerance)) {
        state_.lastGapFrame.reset();
        return;
    }
    if (state_.lastGapFrame == *live) return;
    state_.lastGapFrame = *live;
    const DesktopScreens all = screens();
    const auto index = pinnedScreenIndex(all);
    if (index && liveReachesBottom(*live, all[static_cast<std::size_t>(*index)].visible) && followLiveTop()) return;
    requestFill();
}

void BarPlacement::requestFill() {
    state_.fillPending = true;
    state_.fillAttempts = 0;
}

void BarPlacement::liveActivated() {
    if (!floating() && pinned_->isVisible()) pinned_->raise();
    QTimer::singleShot(kActivatedRefreshMilliseconds, pinned_.get(), [this] { refreshFullScreen(); });
}

void BarPlacement::screensChanged() {
    layoutBar();
    updateVisibility();
}

void BarPlacement::reopen() {
    applyBarMode();
    layoutBar();
    QWidget& window = windowInUse();
    moveWidgetTo(window);
    window.show();
    window.raise();
    if (floating()) window.activateWindow();
    if (!shown_) {
        shown_ = true;
        host_.barVisibilityChanged(true);
    }
}

void BarPlacement::wakeDisplay() { widget_->wake(); }

void BarPlacement::pointerButtonsChanged() {
    if (!edgeWatched_) return;
    // The pointer is where the press happened; no earlier poll to look back to.
    lastFreePointer_.reset();
    pollLiveEdge();
}

// ---- Following Live's top edge ---------------------------------------------------

void BarPlacement::updateEdgeWatch() {
    const bool watch = !floating() && settings_.fitAbleton() && desktop_.hasX11() && host_.livePid() &&
                       !liveFullScreen() && pinned_->isVisible();
    edgeWatched_ = watch;
    if (!watch) {
        edgeTimer_.stop();
        state_.liveEdgeHeld = false;
        return;
    }
    // Told of every press and release: nothing to poll.
    if (desktop_.reportsButtons()) {
        edgeTimer_.stop();
        return;
    }
    const int interval = state_.liveEdgeHeld ? kEdgePollMilliseconds : kPressPollMilliseconds;
    if (!edgeTimer_.isActive() || edgeTimer_.interval() != interval) edgeTimer_.start(interval);
}

void BarPlacement::pollLiveEdge() {
    const auto pointer = desktop_.pointer();
    if (!pointer) return;
    if (state_.liveEdgeHeld) {
        if (!pointer->buttonHeld) {
            state_.liveEdgeHeld = false;
            buttonWasHeld_ = false;
            updateEdgeWatch();
            followLiveTopAfterRelease();
        }
        return;
    }
    const bool pressed = pointer->buttonHeld && !buttonWasHeld_;
    buttonWasHeld_ = pointer->buttonHeld;
    if (!pointer->buttonHeld) {
        lastFreePointer_ = pointer->position;
        return;
    }
    if (!pressed || floating() || !settings_.fitAbleton() || liveFullScreen()) return;
    const auto pid = host_.livePid();
    if (!pid) return;
    // The press happened between two polls: where the pointer was just
    // before is nearer to where it went down than where it is now.
    const DesktopPoint at = lastFreePointer_.value_or(pointer->position);
    const DesktopRect bar = rectOf(pinned_->geometry());
    if (!grabsLiveTopEdge(at, bar, liveMainWindowFrame(*pid, bar.midX()))) return;
    state_.liveEdgeHeld = true;
    updateEdgeWatch();
}

bool BarPlacement::followLiveTop() {
    const auto pid = host_.livePid();
    if (!pid || floating()) return false;
    const DesktopRect bar = rectOf(pinned_->geometry());
    const auto live = liveMainWindowFrame(*pid, bar.midX());
    if (!live) return false;
    const double wanted = heightMeetingLive(bar.top(), *live);
    const DesktopScreens all = screens();
    const auto index = pinnedScreenIndex(all);
    if (!index) return false;
    const HeightBounds bounds =
        barHeightBounds(false, all[static_cast<std::size_t>(*index)].visible.height, settings_.liveMinimumHeight());
    barHeightDragged(wanted, true);
    return wanted >= bounds.lower && wanted <= bounds.upper;
}

void BarPlacement::followLiveTopAfterRelease() {
    for (const int delay : kReleaseCheckMilliseconds) {
        QTimer::singleShot(delay, pinned_.get(), [this] { followLiveTopCheck(); });
    }
}

void BarPlacement::followLiveTopCheck() {
    if (floating() || !settings_.fitAbleton() || liveFullScreen() || !desktop_.hasX11()) return;
    if (const auto pointer = desktop_.pointer(); pointer && pointer->buttonHeld) return;
    const auto pid = host_.livePid();
    if (!pid) return;
    const DesktopRect bar = rectOf(pinned_->geometry());
    const auto live = liveMainWindowFrame(*pid, bar.midX());
    if (!live) return;
    const DesktopScreens all = screens();
    const auto index = pinnedScreenIndex(all);
    if (!index) return;
    if (std::abs(live->top() - bar.bottom()) > placement::kFollowTolerance &&
        liveReachesBottom(*live, all[static_cast<std::size_t>(*index)].visible)) {
        followLiveTop();
    }
}

}  // namespace crestline
