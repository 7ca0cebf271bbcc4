#include "app/x11_desktop.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "platform/x11_windows.h"

namespace crestline {
namespace {

DesktopRect rectOf(const QRect& r) {
    return {static_cast<double>(r.x()), static_cast<double>(r.y()), static_cast<double>(r.width()),
            static_cast<double>(r.height())};
}

}  // namespace

bool preferX11Platform() {
    if (std::getenv("QT_QPA_PLATFORM") != nullptr || std::getenv("DISPLAY") == nullptr) return false;
    if (std::getenv("WAYLAND_DISPLAY") == nullptr) return false;  // X11 is Qt's choice anyway
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}

X11Desktop::X11Desktop(std::optional<std::vector<DesktopRect>> monitors) : monitors_(std::move(monitors)) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return;
    auto x11 = std::make_unique<X11Windows>();
    if (!x11->available()) return;
    x11_ = std::move(x11);
    auto watch = std::make_unique<X11RootWatch>();
    if (!watch->available()) return;
    watch_ = std::move(watch);
    watchNotifier_ = std::make_unique<QSocketNotifier>(watch_->fd(), QSocketNotifier::Read);
    QObject::connect(watchNotifier_.get(), &QSocketNotifier::activated, watchNotifier_.get(), [this] {
        bool activated = false;
        bool buttons = false;
        watch_->dispatch([&](X11RootWatch::Event event) {
            if (event == X11RootWatch::Event::activeWindowChanged) {
                activated = true;
            } else {
                buttons = true;
            }
        });
        // A burst of events counts once each way.
        if (activated && onActivated) onActivated(watch_->activeWindowPid());
        if (buttons && onButtons) onButtons();
    });
}

X11Desktop::~X11Desktop() {
    watchNotifier_.reset();  // before the connection it watches
    watch_.reset();
}

bool X11Desktop::reportsButtons() const { return watch_ && watch_->watchesButtons(); }

bool X11Desktop::hasX11() const { return x11_ != nullptr; }

double X11Desktop::pixelsPerPoint() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    const double ratio = primary != nullptr ? primary->devicePixelRatio() : 1.0;
    return std::isfinite(ratio) && ratio > 0.0 ? ratio : 1.0;
}

DesktopScreens X11Desktop::screens() {
    DesktopScreens result;
    std::vector<DesktopRect> frames;
    std::vector<DesktopRect> available;
    if (monitors_) {
        frames = *monitors_;
        available = *monitors_;
    } else {
        // Primary first, then the others in Qt's order.
        QList<QScreen*> list = QGuiApplication::screens();
        if (QScreen* primary = QGuiApplication::primaryScreen()) {
            list.removeAll(primary);
            list.prepend(primary);
        }
        for (const QScreen* screen : list) {
            frames.push_back(rectOf(screen->geometry()));
            available.push_back(rectOf(screen->availableGeometry()));
        }
    }
    const auto now = std::chrono::steady_clock::now();
    if (x11_ && (!strutsRead_ || now - *strutsRead_ > kStrutsLifetime)) {
        // Other programs' panels only: our own strut must not push the bar down.
        struts_ = x11_->struts(ownDock_);
        root_ = x11_->rootSize();
        strutsRead_ = now;
    }
    const auto& struts = struts_;
    const auto [rootWidth, rootHeight] = root_;
    const double k = pixelsPerPoint();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        DesktopScreen screen{frames[i], available[i]};
        if (x11_) {
            const RootRect monitor{std::lround(frames[i].x * k), std::lround(frames[i].y * k),
                                   std::lround(frames[i].width * k), std::lround(frames[i].height * k)};
            const RootRect free = visibleArea(monitor, rootWidth, rootHeight, struts);
            screen.visible = {static_cast<double>(free.x) / k, static_cast<double>(free.y) / k,
                              static_cast<double>(free.width) / k, static_cast<double>(free.height) / k};
        }
        result.push_back(screen);
    }
    return result;
}

std::optional<DesktopPointer> X11Desktop::pointer() {
    if (!x11_) return std::nullopt;
    const auto p = x11_->pointer();
    if (!p) return std::nullopt;
    const double k = pixelsPerPoint();
    return DesktopPointer{{static_cast<double>(p->x) / k, static_cast<double>(p->y) / k}, p->buttonHeld};
}

void X11Desktop::pinAsDock(QWidget& window, const DesktopRect& frame, bool above) {
    if (!x11_) return;
    const auto id = static_cast<std::uint64_t>(window.winId());
    if (id != ownDock_) strutsRead_.reset();
    ownDock_ = id;
    const double k = pixelsPerPoint();
    // The strut reaches from the root's top edge down to the bar's lower edge.
    x11_->makeDock(id, std::lround(frame.bottom() * k), std::lround(frame.left() * k),
                   std::lround(frame.right() * k) - 1);
    x11_->setAbove(id, above);
}

bool X11Desktop::activate(int pid) {
    if (!x11_) return false;
    return x11_->activate(x11_->mainWindowOf(pid));
}

bool X11Desktop::forwardKey(int pid, const KeyPress& key) {
    if (!x11_ || !activate(pid)) return false;
    return x11_->sendKey(key.nativeKeycode);
}

}  // namespace crestline
