#include "platform/x11_root_watch.h"

#include "platform/x11_errors.h"
#include "platform/x11_properties.h"

// Xlib last: it defines macros (None, Bool, Status) that clash with common names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace crestline {

struct X11RootWatch::Connection {
    Display* display = nullptr;
    Atom activeWindow = 0;
    Atom wmPid = 0;
    int xiOpcode = -1;  // -1: no XInput 2

    Window root() const { return DefaultRootWindow(display); }

    std::optional<unsigned long> cardinal(Window window, Atom property, Atom type) const {
        clearX11Error();
        return readCardinal(display, window, property, type);
    }
};

X11RootWatch::X11RootWatch(const std::string& display) : connection_(std::make_unique<Connection>()) {
    installX11ErrorHandler();
    Connection& c = *connection_;
    c.display = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (c.display == nullptr) return;
    c.activeWindow = XInternAtom(c.display, "_NET_ACTIVE_WINDOW", False);
    c.wmPid = XInternAtom(c.display, "_NET_WM_PID", False);
    // Other programs may watch the root too; each client's mask is its own.
    XSelectInput(c.display, c.root(), PropertyChangeMask);

    int event = 0, error = 0;
    int major = 2, minor = 0;
    if (XQueryExtension(c.display, "XInputExtension", &c.xiOpcode, &event, &error) &&
        XIQueryVersion(c.display, &major, &minor) == Success) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
        XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
        XISelectEvents(c.display, c.root(), &mask, 1);
    } else {
        c.xiOpcode = -1;
    }
    XFlush(c.display);
}

X11RootWatch::~X11RootWatch() {
    if (connection_->display != nullptr) XCloseDisplay(connection_->display);
}

bool X11RootWatch::available() const { return connection_->display != nullptr; }

bool X11RootWatch::watchesButtons() const { return available() && connection_->xiOpcode >= 0; }

int X11RootWatch::fd() const { return available() ? ConnectionNumber(connection_->display) : -1; }

std::optional<X11RootWatch::Event> X11RootWatch::next() {
    Connection& c = *connection_;
    if (c.display == nullptr) return std::nullopt;
    // Only what has arrived: XPending reads the socket without waiting.
    while (XPending(c.display) > 0) {
        XEvent event;
        XNextEvent(c.display, &event);
        if (event.type == PropertyNotify && event.xproperty.atom == c.activeWindow) return Event::activeWindowChanged;
        if (event.type == GenericEvent && event.xcookie.extension == c.xiOpcode) {
            // Raw events carry nothing we read: the type says it all.
            const int type = event.xcookie.evtype;
            if (type == XI_RawButtonPress) return Event::buttonPressed;
            if (type == XI_RawButtonRelease) return Event::buttonReleased;
        }
    }
    return std::nullopt;
}

std::optional<long> X11RootWatch::activeWindowPid() {
    Connection& c = *connection_;
    if (c.display == nullptr) return std::nullopt;
    const auto window = c.cardinal(c.root(), c.activeWindow, XA_WINDOW);
    if (!window || *window == 0) return std::nullopt;
    const auto pid = c.cardinal(static_cast<Window>(*window), c.wmPid, XA_CARDINAL);
    if (!pid || *pid == 0 || lastX11Error() != 0) return std::nullopt;
    return static_cast<long>(*pid);
}

}  // namespace crestline
