// The menus, windows and small services of app/app_services.h over the
// running controller: builds the desktop ports (message boxes, the browser,
// QtNetwork), the crash reporter over the crash folder and the login item
// for this executable, implements the services' host over CrestlineApp and
// its desktop placement, and sets the controller's hooks (what's new, the
// crash question, the menu shortcuts of the pinned bar).
//
// Make it after the controller and before `CrestlineApp::start` (the
// what's-new decision needs the first launch unrecorded); call `start`
// after the controller's. Main thread only.
#pragma once

#include <memory>

#include "app/app_services.h"
#include "app/desktop_services.h"

namespace crestline {

class CrestlineApp;

class ControllerServices final {
public:
    explicit ControllerServices(CrestlineApp& app);
    ~ControllerServices();
    ControllerServices(const ControllerServices&) = delete;
    ControllerServices& operator=(const ControllerServices&) = delete;

    // The menu bar of the floating window, the tray, the login default and
    // the crash reports of earlier runs.
    void start();
    AppServices& services() { return *services_; }

private:
    class Host;

    CrestlineApp& app_;
    MessageBoxAlerts alerts_;
    DesktopWebPages pages_;
    NetworkCrashUpload upload_;
    std::unique_ptr<CrashReporter> crashes_;
    std::unique_ptr<Host> host_;
    std::unique_ptr<AppServices> services_;
};

}  // namespace crestline
