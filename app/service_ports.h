// What the small services ask of the desktop, as interfaces so that their
// logic runs against fakes in tests: two-button alerts that answer later
// (never a nested event loop, so the controller's timers cannot re-enter),
// opening a web page, and sending a crash report.
//
// Main thread only. The Qt implementations are in app/desktop_services.h.
#pragma once

#include <functional>
#include <string>

namespace crestline {

// A two-button alert with the application's icon, raised above the bar.
struct Alert {
    std::string message;
    std::string information;
    std::string first;   // the default button
    std::string second;  // none when empty
};

// Escape or closing the window dismisses an alert.
enum class AlertAnswer { first, second, dismissed };

class Alerts {
public:
    virtual ~Alerts() = default;
    // `answered` runs later on the main thread, once.
    virtual void show(const Alert& alert, std::function<void(AlertAnswer)> answered) = 0;
};

class WebPages {
public:
    virtual ~WebPages() = default;
    // Opens `url` in the desktop's browser; false when nothing could.
    virtual bool open(const std::string& url) = 0;
};

class CrashUpload {
public:
    virtual ~CrashUpload() = default;
    // POSTs the JSON `body` to `url`; the outcome is not reported.
    virtual void post(const std::string& url, const std::string& body) = 0;
};

}  // namespace crestline
