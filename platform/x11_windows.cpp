#include "platform/x11_windows.h"

#include <algorithm>
#include <array>

#include "platform/x11_errors.h"
#include "platform/x11_properties.h"

// Xlib last: it defines macros (None, Bool, Status) that clash with common names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace crestline {
namespace {

constexpr long kAllDesktops = 0xFFFFFFFFL;
constexpr long kStateRemove = 0;
constexpr long kStateAdd = 1;
constexpr long kSourcePager = 2;  // requests on behalf of the user

}  // namespace

RootRect visibleArea(const RootRect& monitor, long rootWidth, long rootHeight, const std::vector<StrutPartial>& struts) {
    long left = monitor.x, top = monitor.y, right = monitor.x + monitor.width, bottom = monitor.y + monitor.height;
    // A strut's band overlaps the monitor along the edge's own axis.
    auto spans = [](long start, long end, long from, long to) { return start < to && end >= from; };
    for (const auto& s : struts) {
        const long sLeft = s[0], sRight = s[1], sTop = s[2], sBottom = s[3];
        if (sLeft > 0 && spans(s[4], s[5], monitor.y, monitor.y + monitor.height) && sLeft > monitor.x) {
            left = std::max(left, std::min(sLeft, monitor.x + monitor.width));
        }
        if (sRight > 0 && spans(s[6], s[7], monitor.y, monitor.y + monitor.height) &&
            rootWidth - sRight < monitor.x + monitor.width) {
            right = std::min(right, std::max(rootWidth - sRight, monitor.x));
        }
        if (sTop > 0 && spans(s[8], s[9], monitor.x, monitor.x + monitor.width) && sTop > monitor.y) {
            top = std::max(top, std::min(sTop, monitor.y + monitor.height));
        }
        if (sBottom > 0 && spans(s[10], s[11], monitor.x, monitor.x + monitor.width) &&
            rootHeight - sBottom < monitor.y + monitor.height) {
            bottom = std::min(bottom, std::max(rootHeight - sBottom, monitor.y));
        }
    }
    return {left, top, std::max(0L, right - left), std::max(0L, bottom - top)};
}

struct X11Windows::Connection {
    Display* display = nullptr;
    bool xtest = false;

    Atom atom(const char* name) const { return XInternAtom(display, name, False); }
    Window root() const { return DefaultRootWindow(display); }

    std::vector<unsigned long> cardinals(Window window, Atom property, Atom type) const {
        clearX11Error();
        return readCardinals(display, window, property, type, 1024);
    }

    void setCardinals(Window window, const char* property, Atom type, const std::vector<long>& values) const {
        XChangeProperty(display, window, atom(property), type, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
    }

    void clientMessage(Window window, Atom type, std::array<long, 5> data) const {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = type;
        event.xclient.format = 32;
        for (std::size_t i = 0; i < data.size(); ++i) event.xclient.data.l[i] = data[i];
        XSendEvent(display, root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    }

    std::vector<Window> clients() const {
        auto list = cardinals(root(), atom("_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
        if (list.empty()) list = cardinals(root(), atom("_NET_CLIENT_LIST"), XA_WINDOW);
        return {list.rbegin(), list.rend()};  // front-most first
    }
};

X11Windows::X11Windows(const std::string& display) : connection_(std::make_unique<Connection>()) {
    installX11ErrorHandler();
    connection_->display = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (connection_->display != nullptr) {
        int event = 0, error = 0, major = 0, minor = 0;
        connection_->xtest = XTestQueryExtension(connection_->display, &event, &error, &major, &minor) != 0;
    }
}

X11Windows::~X11Windows() {
    if (connection_->display != nullptr) XCloseDisplay(connection_->display);
}

bool X11Windows::available() const { return connection_->display != nullptr; }

bool X11Windows::windowManagerRuns() {
    if (!available()) return false;
    return !connection_->cardinals(connection_->root(), connection_->atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW).empty();
}

std::pair<long, long> X11Windows::rootSize() {
    if (!available()) return {0, 0};
    Display* d = connection_->display;
    return {DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};
}

void X11Windows::makeDock(std::uint64_t window, long top, long startX, long endX) {
    if (!available() || window == 0) return;
    auto& c = *connection_;
    const auto w = static_cast<Window>(window);
    c.setCardinals(w, "_NET_WM_WINDOW_TYPE", XA_ATOM, {static_cast<long>(c.atom("_NET_WM_WINDOW_TYPE_DOCK"))});
    c.setCardinals(w, "_NET_WM_DESKTOP", XA_CARDINAL, {kAllDesktops});
    const long reserve = std::max(0L, top);
    c.setCardinals(w, "_NET_WM_STRUT_PARTIAL", XA_CARDINAL,
                   {0, 0, reserve, 0, 0, 0, 0, 0, startX, std::max(startX, endX), 0, 0});
    c.setCardinals(w, "_NET_WM_STRUT", XA_CARDINAL, {0, 0, reserve, 0});
    // On a mapped window the state changes go through the window manager;
    // on an unmapped one the property is read when it maps.
    XWindowAttributes attributes{};
    const bool mapped = XGetWindowAttributes(c.display, w, &attributes) != 0 && attributes.map_state != IsUnmapped;
    const Atom skipTaskbar = c.atom("_NET_WM_STATE_SKIP_TASKBAR");
    const Atom skipPager = c.atom("_NET_WM_STATE_SKIP_PAGER");
    const Atom sticky = c.atom("_NET_WM_STATE_STICKY");
    if (mapped) {
        c.clientMessage(w, c.atom("_NET_WM_STATE"),
                        {kStateAdd, static_cast<long>(skipTaskbar), static_cast<long>(skipPager), kSourcePager, 0});
        c.clientMessage(w, c.atom("_NET_WM_STATE"), {kStateAdd, static_cast<long>(sticky), 0, kSourcePager, 0});
        c.clientMessage(w, c.atom("_NET_WM_DESKTOP"), {kAllDesktops, kSourcePager, 0, 0, 0});
    } else {
        auto states = c.cardinals(w, c.atom("_NET_WM_STATE"), XA_ATOM);
        for (const Atom a : {skipTaskbar, skipPager, sticky}) {
            if (std::find(states.begin(), states.end(), a) == states.end()) states.push_back(a);
        }
        c.setCardinals(w, "_NET_WM_STATE", XA_ATOM, std::vector<long>(states.begin(), states.end()));
    }
    XFlush(c.display);
}

void X11Windows::setAbove(std::uint64_t window, bool above) {
    if (!available() || window == 0) return;
    auto& c = *connection_;
    const auto w = static_cast<Window>(window);
    const Atom state = c.atom("_NET_WM_STATE_ABOVE");
    XWindowAttributes attributes{};
    const bool mapped = XGetWindowAttributes(c.display, w, &attributes) != 0 && attributes.map_state != IsUnmapped;
    if (mapped) {
        c.clientMessage(w, c.atom("_NET_WM_STATE"),
                        {above ? kStateAdd : kStateRemove, static_cast<long>(state), 0, kSourcePager, 0});
    } else {
        auto states = c.cardinals(w, c.atom("_NET_WM_STATE"), XA_ATOM);
        std::erase(states, state);
        if (above) states.push_back(state);
        c.setCardinals(w, "_NET_WM_STATE", XA_ATOM, std::vector<long>(states.begin(), states.end()));
    }
    XFlush(c.display);
}

std::vector<StrutPartial> X11Windows::struts(std::uint64_t except) {
    std::vector<StrutPartial> result;
    if (!available()) return result;
    auto& c = *connection_;
    const auto [width, height] = rootSize();
    for (const Window w : c.clients()) {
        if (w == static_cast<Window>(except)) continue;
        const auto partial = c.cardinals(w, c.atom("_NET_WM_STRUT_PARTIAL"), XA_CARDINAL);
        StrutPartial strut{};
        if (partial.size() == 12) {
            for (std::size_t i = 0; i < 12; ++i) strut[i] = static_cast<long>(partial[i]);
        } else {
            // The older form reserves along the whole edge.
            const auto plain = c.cardinals(w, c.atom("_NET_WM_STRUT"), XA_CARDINAL);
            if (plain.size() != 4) continue;
            strut = {static_cast<long>(plain[0]), static_cast<long>(plain[1]), static_cast<long>(plain[2]),
                     static_cast<long>(plain[3]), 0, height, 0, height, 0, width, 0, width};
        }
        result.push_back(strut);
    }
    return result;
}

std::uint64_t X11Windows::mainWindowOf(long pid) {
    if (!available()) return 0;
    auto& c = *connection_;
    const Atom pidAtom = c.atom("_NET_WM_PID");
    const Atom hidden = c.atom("_NET_WM_STATE_HIDDEN");
    Window best = 0;
    long bestArea = -1;
    for (const Window w : c.clients()) {
        const auto owner = c.cardinals(w, pidAtom, XA_CARDINAL);
        if (owner.empty() || static_cast<long>(owner.front()) != pid) continue;
        const auto states = c.cardinals(w, c.atom("_NET_WM_STATE"), XA_ATOM);
        if (std::find(states.begin(), states.end(), hidden) != states.end()) continue;
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(c.display, w, &attributes) == 0 || attributes.map_state != IsViewable) continue;
        const long area = static_cast<long>(attributes.width) * attributes.height;
        if (area > bestArea) {
            bestArea = area;
            best = w;
        }
    }
    return best;
}

bool X11Windows::activate(std::uint64_t window) {
    if (!available() || window == 0) return false;
    auto& c = *connection_;
    const auto w = static_cast<Window>(window);
    clearX11Error();
    c.clientMessage(w, c.atom("_NET_ACTIVE_WINDOW"), {kSourcePager, CurrentTime, 0, 0, 0});
    // The window manager grants the activation later; the focus is set now
    // so that keys replayed right after reach the window.
    XSetInputFocus(c.display, w, RevertToParent, CurrentTime);
    XSync(c.display, False);
    return lastX11Error() == 0;
}

bool X11Windows::sendKey(unsigned keycode) {
    if (!available() || !connection_->xtest || keycode < 8 || keycode > 255) return false;
    Display* d = connection_->display;
    XTestFakeKeyEvent(d, keycode, True, CurrentTime);
    XTestFakeKeyEvent(d, keycode, False, CurrentTime);
    XFlush(d);
    return true;
}

std::optional<X11Windows::Pointer> X11Windows::pointer() {
    if (!available()) return std::nullopt;
    Display* d = connection_->display;
    Window rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    if (XQueryPointer(d, connection_->root(), &rootReturn, &child, &rootX, &rootY, &x, &y, &mask) == 0) {
        return std::nullopt;
    }
    constexpr unsigned kButtons = Button1Mask | Button2Mask | Button3Mask;
    return Pointer{rootX, rootY, (mask & kButtons) != 0};
}

}  // namespace crestline
