// Events of the whole X11 desktop, without polling: which window the window
// manager made active (_NET_ACTIVE_WINDOW on the root) and every press and
// release of a pointer button anywhere (XInput 2 raw events, which watch
// without grabbing, so other programs get their clicks as ever).
//
// One connection of its own. The owner watches `fd()` in its event loop and
// calls `dispatch()` when it is readable; `dispatch` never blocks. Main
// thread (or whichever one thread owns it). Qt-free.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace crestline {

class X11RootWatch {
public:
    enum class Event { activeWindowChanged, buttonPressed, buttonReleased };

    // `display` names the X display; empty means $DISPLAY.
    explicit X11RootWatch(const std::string& display = {});
    ~X11RootWatch();
    X11RootWatch(const X11RootWatch&) = delete;
    X11RootWatch& operator=(const X11RootWatch&) = delete;

    bool available() const;
    // Without XInput 2 no button events come; the caller polls instead.
    bool watchesButtons() const;
    // The connection's socket; -1 when not available.
    int fd() const;

    // Hands every event waiting on the connection to `handle`.
    template <typename Handle>
    void dispatch(Handle&& handle) {
        while (const auto event = next()) handle(*event);
    }

    // The process of the active window (_NET_WM_PID), when it names one.
    std::optional<long> activeWindowPid();

    struct Connection;

private:
    std::optional<Event> next();

    std::unique_ptr<Connection> connection_;
};

}  // namespace crestline
