#include "platform/x11_accessibility.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/serial_queue.h"
#include "platform/x11_errors.h"
#include "platform/x11_properties.h"

// Xlib last: it defines macros (None, Bool, Status) that clash with common names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace crestline {
namespace {

// More requests than this waiting behind a stuck one fail at once instead of
// piling up on the worker.
constexpr int kMaxPendingRequests = 8;
// Windows nested deeper than this under the root are not top-level.
constexpr int kMaxTreeDepth = 3;

struct Atoms {
    Atom pid, name, utf8, clientList, stacking, activeWindow, frameExtents, state, hidden, fullscreen,
        windowType, typeNormal, typeDialog, typeUtility, typeToolbar, typeMenu, typeSplash, wmState,
        moveResize, supportingCheck;
};

}  // namespace

struct X11Accessibility::Connection {
    explicit Connection(std::string name) : displayName(std::move(name)), queue("app.crestline.Crestline.x11") {}
    ~Connection() {
        queue.stop();
        if (display != nullptr) XCloseDisplay(display);
    }

    // Worker thread only.
    bool open() {
        if (display != nullptr) return true;
        if (triedOpen) return false;
        triedOpen = true;
        installX11ErrorHandler();
        display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
        if (display == nullptr) return false;
        auto atom = [this](const char* n) { return XInternAtom(display, n, False); };
        atoms = Atoms{atom("_NET_WM_PID"), atom("_NET_WM_NAME"), atom("UTF8_STRING"), atom("_NET_CLIENT_LIST"),
                      atom("_NET_CLIENT_LIST_STACKING"), atom("_NET_ACTIVE_WINDOW"), atom("_NET_FRAME_EXTENTS"),
                      atom("_NET_WM_STATE"), atom("_NET_WM_STATE_HIDDEN"), atom("_NET_WM_STATE_FULLSCREEN"),
                      atom("_NET_WM_WINDOW_TYPE"), atom("_NET_WM_WINDOW_TYPE_NORMAL"),
                      atom("_NET_WM_WINDOW_TYPE_DIALOG"), atom("_NET_WM_WINDOW_TYPE_UTILITY"),
                      atom("_NET_WM_WINDOW_TYPE_TOOLBAR"), atom("_NET_WM_WINDOW_TYPE_MENU"),
                      atom("_NET_WM_WINDOW_TYPE_SPLASH"), atom("WM_STATE"), atom("_NET_MOVERESIZE_WINDOW"),
                      atom("_NET_SUPPORTING_WM_CHECK")};
        return true;
    }

    // Runs `work` on the worker and waits at most `timeout` seconds for it.
    AXError run(double timeout, std::function<AXError(AXValue&)> work, AXValue& out) {
        struct Shared {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
            AXError error = AXError::cannotComplete;
            AXValue value;
        };
        if (pending.load() >= kMaxPendingRequests) return AXError::cannotComplete;
        auto shared = std::make_shared<Shared>();
        pending.fetch_add(1);
        queue.async([this, shared, work = std::move(work)] {
            AXValue value;
            AXError error = AXError::apiDisabled;
            if (open()) {
                clearX11Error();
                error = work(value);
                XSync(display, False);
                if (error == AXError::success && lastX11Error() != 0) {
                    error = AXError::invalidElement;
                }
            }
            pending.fetch_sub(1);
            std::scoped_lock lock(shared->mutex);
            shared->error = error;
            shared->value = std::move(value);
            shared->finished = true;
            shared->done.notify_all();
        });
        std::unique_lock lock(shared->mutex);
        if (!shared->done.wait_for(lock, std::chrono::duration<double>(timeout), [&] { return shared->finished; })) {
            return AXError::cannotComplete;
        }
        if (shared->error == AXError::success) out = std::move(shared->value);
        return shared->error;
    }

    // --- Property helpers (worker thread) ---

    std::vector<unsigned long> cardinals(Window window, Atom property, Atom type) {
        return readCardinals(display, window, property, type, 4096);
    }

    std::optional<std::string> text(Window window, Atom property, Atom type) {
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::optional<std::string> result;
        if (XGetWindowProperty(display, window, property, 0, 65536, False, type, &actualType, &format, &count,
                               &after, &data) == 0 &&
            data != nullptr && format == 8 && actualType == type) {
            result.emplace(reinterpret_cast<const char*>(data), count);
        }
        if (data != nullptr) XFree(data);
        return result;
    }

    std::optional<std::string> title(Window window) {
        if (auto name = text(window, atoms.name, atoms.utf8)) return name;
        XTextProperty property{};
        if (XGetWMName(display, window, &property) == 0 || property.value == nullptr) return std::nullopt;
        std::optional<std::string> result;
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(display, &property, &list, &count) >= 0 && list != nullptr && count > 0) {
            result = list[0];
        }
        if (list != nullptr) XFreeStringList(list);
        XFree(property.value);
        return result;
    }

    std::optional<long> pidOf(Window window) {
        const auto values = cardinals(window, atoms.pid, XA_CARDINAL);
        if (values.empty()) return std::nullopt;
        return static_cast<long>(values.front());
    }

    bool hasState(Window window, Atom state) {
        const auto states = cardinals(window, atoms.state, XA_ATOM);
        return std::find(states.begin(), states.end(), state) != states.end();
    }

    bool minimised(Window window) {
        if (hasState(window, atoms.hidden)) return true;
        const auto wmState = cardinals(window, atoms.wmState, atoms.wmState);
        return !wmState.empty() && wmState.front() == IconicState;
    }

    bool windowManagerRuns() {
        const Window root = DefaultRootWindow(display);
        return !cardinals(root, atoms.supportingCheck, XA_WINDOW).empty();
    }

    // Top-level windows of a process, front-most first.
    std::vector<Window> windowsOf(long pid) {
        const Window root = DefaultRootWindow(display);
        std::vector<unsigned long> candidates = cardinals(root, atoms.stacking, XA_WINDOW);
        if (candidates.empty()) candidates = cardinals(root, atoms.clientList, XA_WINDOW);
        std::vector<Window> found;
        if (!candidates.empty()) {
            for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
                const auto window = static_cast<Window>(*it);
                if (pidOf(window) == pid) found.push_back(window);
            }
            return found;
        }
        walk(root, 0, pid, found);
        std::reverse(found.begin(), found.end());  // the tree lists bottom-most first
        return found;
    }

    void walk(Window parent, int depth, long pid, std::vector<Window>& found) {
        Window rootReturn = 0, parentReturn = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, parent, &rootReturn, &parentReturn, &children, &count) == 0) return;
        std::vector<Window> list(children, children + count);
        if (children != nullptr) XFree(children);
        for (const Window child : list) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display, child, &attributes) == 0) continue;
            if (attributes.override_redirect) continue;  // menus, tooltips
            if (pidOf(child) == pid) {
                if (attributes.map_state != IsUnmapped || minimised(child)) found.push_back(child);
                continue;
            }
            if (depth + 1 < kMaxTreeDepth) walk(child, depth + 1, pid, found);
        }
    }

    struct Frame {
        AXPoint position;
        AXSize size;
    };

    // The window manager's decoration around the client: left, right, top,
    // bottom; zeros without a window manager.
    std::array<long, 4> extentsOf(Window window) {
        const auto extents = cardinals(window, atoms.frameExtents, XA_CARDINAL);
        if (extents.size() != 4) return {0, 0, 0, 0};
        return {static_cast<long>(extents[0]), static_cast<long>(extents[1]), static_cast<long>(extents[2]),
                static_cast<long>(extents[3])};
    }

    std::optional<Frame> frame(Window window) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, window, &attributes) == 0) return std::nullopt;
        int x = 0, y = 0;
        Window child = 0;
        if (XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child) == 0) return std::nullopt;
        const auto [left, right, top, bottom] = extentsOf(window);
        return Frame{{static_cast<double>(x - left), static_cast<double>(y - top)},
                     {static_cast<double>(attributes.width + left + right),
                      static_cast<double>(attributes.height + top + bottom)}};
    }

    std::string subrole(Window window) {
        const auto types = cardinals(window, atoms.windowType, XA_ATOM);
        if (types.empty()) return "AXStandardWindow";
        const auto type = static_cast<Atom>(types.front());
        if (type == atoms.typeNormal) return "AXStandardWindow";
        if (type == atoms.typeDialog) return "AXDialog";
        if (type == atoms.typeUtility || type == atoms.typeToolbar || type == atoms.typeMenu) {
            return "AXFloatingWindow";
        }
        return "AXUnknown";
    }

    bool isMain(Window window, long pid) {
        const auto windows = windowsOf(pid);
        const auto active = cardinals(DefaultRootWindow(display), atoms.activeWindow, XA_WINDOW);
        if (!active.empty() && std::find(windows.begin(), windows.end(), active.front()) != windows.end()) {
            return active.front() == window;
        }
        // Another program is active: the largest standard, visible window
        // stands for the process's main window.
        Window best = 0;
        double bestArea = -1.0;
        for (const Window candidate : windows) {
            if (subrole(candidate) != "AXStandardWindow" || minimised(candidate)) continue;
            const auto box = frame(candidate);
            if (!box) continue;
            const double area = box->size.width * box->size.height;
            if (area > bestArea) {
                bestArea = area;
                best = candidate;
            }
        }
        return best == window;
    }

    // Moves or resizes a window's frame (worker thread).
    AXError place(Window window, std::optional<AXPoint> position, std::optional<AXSize> size) {
        const auto current = frame(window);
        if (!current) return AXError::invalidElement;
        const auto [left, right, top, bottom] = extentsOf(window);
        const AXPoint to = position.value_or(current->position);
        const AXSize by = size.value_or(current->size);
        const long width = std::max(1L, static_cast<long>(by.width) - left - right);
        const long height = std::max(1L, static_cast<long>(by.height) - top - bottom);
        if (windowManagerRuns()) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = atoms.moveResize;
            event.xclient.format = 32;
            // Static gravity would place the client; NorthWest places the frame.
            long flags = NorthWestGravity | (2L << 12);  // source: a pager/tool
            if (position) flags |= (1L << 8) | (1L << 9);
            if (size) flags |= (1L << 10) | (1L << 11);
            event.xclient.data.l[0] = flags;
            event.xclient.data.l[1] = static_cast<long>(to.x);
            event.xclient.data.l[2] = static_cast<long>(to.y);
            event.xclient.data.l[3] = width;
            event.xclient.data.l[4] = height;
            XSendEvent(display, DefaultRootWindow(display), False,
                       SubstructureRedirectMask | SubstructureNotifyMask, &event);
        } else {
            XMoveResizeWindow(display, window, static_cast<int>(to.x + static_cast<double>(left)),
                              static_cast<int>(to.y + static_cast<double>(top)), static_cast<unsigned>(width),
                              static_cast<unsigned>(height));
        }
        return AXError::success;
    }

    const std::string displayName;
    SerialQueue queue;
    std::atomic<int> pending{0};
    Display* display = nullptr;  // worker thread only
    bool triedOpen = false;
    Atoms atoms{};
};

namespace {

using Connection = X11Accessibility::Connection;

// The application element's time-out also bounds its windows' requests.
struct Limit {
    std::atomic<double> seconds{0.0};
    double effective() const {
        const double value = seconds.load(std::memory_order_relaxed);
        return value > 0.0 ? value : kAXDefaultTimeoutSeconds;
    }
};

class WindowElement final : public AXElement {
public:
    WindowElement(std::shared_ptr<Connection> connection, std::shared_ptr<Limit> limit, Window window, long pid)
        : connection_(std::move(connection)), limit_(std::move(limit)), window_(window), pid_(pid) {}

    AXError copyAttribute(std::string_view attribute, AXValue& out) override {
        const std::string name(attribute);
        if (name == "AXDocument" || name == "AXDescription" || name == "AXValue" || name == "AXChildren") {
            return AXError::noValue;
        }
        auto c = connection_.get();
        const Window w = window_;
        const long pid = pid_;
        std::function<AXError(AXValue&)> work;
        if (name == "AXTitle") {
            work = [c, w](AXValue& v) {
                v = c->title(w).value_or(std::string());
                return AXError::success;
            };
        } else if (name == "AXPosition" || name == "AXSize") {
            const bool wantPosition = name == "AXPosition";
            work = [c, w, wantPosition](AXValue& v) {
                const auto box = c->frame(w);
                if (!box) return AXError::invalidElement;
                if (wantPosition) {
                    v = box->position;
                } else {
                    v = box->size;
                }
                return AXError::success;
            };
        } else if (name == "AXMinimized") {
            work = [c, w](AXValue& v) {
                v = c->minimised(w);
                return AXError::success;
            };
        } else if (name == "AXFullScreen") {
            work = [c, w](AXValue& v) {
                v = c->hasState(w, c->atoms.fullscreen);
                return AXError::success;
            };
        } else if (name == "AXMain") {
            work = [c, w, pid](AXValue& v) {
                v = c->isMain(w, pid);
                return AXError::success;
            };
        } else if (name == "AXSubrole") {
            work = [c, w](AXValue& v) {
                v = c->subrole(w);
                return AXError::success;
            };
        } else {
            return AXError::attributeUnsupported;
        }
        return connection_->run(timeout(), std::move(work), out);
    }

    AXError setAttribute(std::string_view attribute, const AXValue& value) override {
        std::optional<AXPoint> position;
        std::optional<AXSize> size;
        if (attribute == "AXPosition" && std::holds_alternative<AXPoint>(value)) {
            position = std::get<AXPoint>(value);
        } else if (attribute == "AXSize" && std::holds_alternative<AXSize>(value)) {
            size = std::get<AXSize>(value);
        } else if (attribute == "AXPosition" || attribute == "AXSize") {
            return AXError::illegalArgument;
        } else {
            return AXError::attributeUnsupported;
        }
        auto c = connection_.get();
        const Window w = window_;
        AXValue ignored;
        return connection_->run(
            timeout(), [c, w, position, size](AXValue&) { return c->place(w, position, size); }, ignored);
    }

    void setMessagingTimeout(double seconds) override { own_ = seconds > 0.0 ? seconds : 0.0; }

private:
    double timeout() const { return own_ > 0.0 ? own_.load() : limit_->effective(); }

    std::shared_ptr<Connection> connection_;
    std::shared_ptr<Limit> limit_;
    const Window window_;
    const long pid_;
    std::atomic<double> own_{0.0};
};

class ApplicationElement final : public AXElement {
public:
    ApplicationElement(std::shared_ptr<Connection> connection, long pid)
        : connection_(std::move(connection)), limit_(std::make_shared<Limit>()), pid_(pid) {}

    AXError copyAttribute(std::string_view attribute, AXValue& out) override {
        if (attribute != "AXWindows") return AXError::attributeUnsupported;
        // The worker only collects window ids: elements, which keep the
        // connection alive, are made on the calling thread so that the
        // connection is never released on its own worker.
        auto ids = std::make_shared<std::vector<Window>>();
        Connection* c = connection_.get();
        const long pid = pid_;
        AXValue ignored;
        const AXError error = connection_->run(
            limit_->effective(),
            [c, ids, pid](AXValue&) {
                *ids = c->windowsOf(pid);
                return AXError::success;
            },
            ignored);
        if (error != AXError::success) return error;
        AXElementList list;
        for (const Window w : *ids) list.push_back(std::make_shared<WindowElement>(connection_, limit_, w, pid_));
        out = std::move(list);
        return AXError::success;
    }

    void setMessagingTimeout(double seconds) override { limit_->seconds = seconds > 0.0 ? seconds : 0.0; }

private:
    std::shared_ptr<Connection> connection_;
    std::shared_ptr<Limit> limit_;
    const long pid_;
};

// X11 delivers no value changes of another program's controls.
class UnsupportedObserver final : public AXObserver {
public:
    AXError addNotification(const AXElementRef&, std::string_view) override {
        return AXError::notificationUnsupported;
    }
};

}  // namespace

X11Accessibility::X11Accessibility(std::string display)
    : connection_(std::make_shared<Connection>(std::move(display))) {}

X11Accessibility::~X11Accessibility() = default;

bool X11Accessibility::isProcessTrusted() {
    AXValue ignored;
    return connection_->run(
               kAXDefaultTimeoutSeconds, [](AXValue&) { return AXError::success; }, ignored) == AXError::success;
}

AXElementRef X11Accessibility::application(int pid) { return std::make_shared<ApplicationElement>(connection_, pid); }

std::unique_ptr<AXObserver> X11Accessibility::createObserver(int, AXNotificationHandler) {
    return std::make_unique<UnsupportedObserver>();
}

}  // namespace crestline
