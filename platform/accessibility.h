// The accessibility layer over another application's windows: what the set
// reader, the theme reader and the window fitter ask of Live's windows.
// Elements answer attributes by name ("AXWindows", "AXTitle", "AXDocument",
// "AXPosition", "AXSize", "AXMinimized", "AXFullScreen", "AXMain",
// "AXSubrole", "AXDescription", "AXChildren", "AXValue") and may accept
// writes ("AXPosition", "AXSize") where the platform can move windows.
//
// Every request is bounded in time: an application element carries a
// messaging time-out that also bounds requests to the elements reached from
// it; a request that does not complete in time fails with `cannotComplete`.
//
// Threads: elements may be used from any thread, one request at a time per
// element. Observer handlers run on a thread of the implementation; callers
// hop to their own thread.
//
// Implementations: X11/EWMH for real use (platform/x11_accessibility.h), a
// scriptable fake for tests (platform/fake_accessibility.h).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace crestline {

struct AXPoint {
    double x = 0.0;  // points, origin at the top left of the primary screen
    double y = 0.0;
    bool operator==(const AXPoint&) const = default;
};

struct AXSize {
    double width = 0.0;  // points
    double height = 0.0;
    bool operator==(const AXSize&) const = default;
};

class AXElement;
using AXElementRef = std::shared_ptr<AXElement>;
using AXElementList = std::vector<AXElementRef>;
using AXValue = std::variant<bool, double, std::string, AXPoint, AXSize, AXElementList>;

enum class AXError {
    success,
    failure,
    cannotComplete,           // no answer within the messaging time-out
    attributeUnsupported,
    noValue,
    illegalArgument,
    invalidElement,           // the window or process is gone
    notificationUnsupported,
    apiDisabled,              // no display, or the platform refused
};

// The time-out of a request when nobody set one, in seconds (the platform
// default of the interface we stand in for).
inline constexpr double kAXDefaultTimeoutSeconds = 6.0;

class AXElement {
public:
    virtual ~AXElement() = default;

    virtual AXError copyAttribute(std::string_view attribute, AXValue& out) = 0;
    // Writes an attribute. Window moves are asynchronous on some platforms:
    // read the frame back later, not right after the request.
    virtual AXError setAttribute(std::string_view attribute, const AXValue& value);
    // Seconds; 0 or less restores the default.
    virtual void setMessagingTimeout(double seconds) = 0;
};

using AXNotificationHandler = std::function<void(const AXElementRef& element, const std::string& notification)>;

// Watches elements of one process. Destroying the observer stops every
// delivery before the destructor returns.
class AXObserver {
public:
    virtual ~AXObserver() = default;
    virtual AXError addNotification(const AXElementRef& element, std::string_view notification) = 0;
};

class Accessibility {
public:
    virtual ~Accessibility() = default;
    // Whether the platform lets us read other applications' windows at all.
    virtual bool isProcessTrusted() = 0;
    // Whether elements inside windows (a window's controls and their
    // values) can be reached, or only the windows themselves.
    virtual bool reachesControls() const { return true; }
    // The application element of a process; never null (requests to a
    // process that has no windows simply answer nothing).
    virtual AXElementRef application(int pid) = 0;
    // Null when the platform cannot observe that process.
    virtual std::unique_ptr<AXObserver> createObserver(int pid, AXNotificationHandler handler) = 0;
};

// The process-wide layer: the X11 one unless replaced. Replacing returns the
// previous layer; passing null restores the default. Replace only while no
// other thread uses the layer (start-up, tests).
Accessibility& accessibility();
std::shared_ptr<Accessibility> setAccessibility(std::shared_ptr<Accessibility> layer);

// Typed reads: nothing when the request fails or the value has another type.
std::optional<std::string> axString(AXElement& element, std::string_view attribute);
std::optional<bool> axBool(AXElement& element, std::string_view attribute);
std::optional<double> axNumber(AXElement& element, std::string_view attribute);
std::optional<AXPoint> axPoint(AXElement& element, std::string_view attribute);
std::optional<AXSize> axSize(AXElement& element, std::string_view attribute);
std::optional<AXElementList> axElements(AXElement& element, std::string_view attribute);

// A value as text, the way a control shows it: text as is, numbers in
// shortest decimal form ("100", "0.5"), booleans as "1"/"0"; nothing for
// points, sizes and lists.
std::optional<std::string> axText(const AXValue& value);

}  // namespace crestline
