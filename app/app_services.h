// The application's menus, windows and small services, joined to the
// controller: the main menu (in the floating window's menu bar, its Ctrl
// shortcuts also taken from the pinned bar), the tray icon, the module and
// add menus the bar's gestures open, the settings and About windows, the
// custom target dialog and colour wheel, the what's-new notice, the crash
// question and the login item.
//
// It speaks to the controller through `ServicesHost`; `ControllerServices`
// (app/controller_services.h) implements it over CrestlineApp and sets the
// controller's hooks. Questions go through `Alerts` and mark the controller
// as asking while they are on screen, so questions never stack.
//
// Main thread only; needs a QApplication.
#pragma once

#include <QPoint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/crash_reporter.h"
#include "app/login_item.h"
#include "app/menus.h"
#include "app/service_ports.h"
#include "app/settings_window.h"
#include "app/updater.h"
#include "bar/bar_menu.h"
#include "bar/bar_theme.h"
#include "settings/drawer.h"

class QMenuBar;
class QColorDialog;

namespace crestline {

class AboutWindow;
class Settings;
class TrayMenu;

class ServicesHost {
public:
    virtual ~ServicesHost() = default;
    virtual Settings& settings() = 0;
    // The theme the bar is drawn with now.
    virtual BarTheme theme() = 0;
    virtual StatusState statusState() = 0;
    virtual bool liveRunning() const = 0;
    // The effective mode is floating (standalone or "barMode" floating).
    virtual bool floating() const = 0;
    virtual void setAsking(bool on) = 0;

    // The bar.
    virtual void redraw() = 0;
    virtual void relayout() = 0;        // lay the bar out anew and redraw
    virtual void refreshPalette() = 0;  // theme from the settings, module themes, redraw
    virtual void toggleFullScreen() = 0;
    virtual void hideBar() = 0;
    // Before the tray menu opens: no hint stays up, a spectrum grab ends.
    virtual void beforeStatusMenu() = 0;

    // The analysers.
    virtual void resetMeter() = 0;          // "Reset Meter": restart the measurement
    virtual void clearHistory() = 0;        // the loudness history
    virtual void clearScopeOverview() = 0;
    virtual void clearSpectrogram() = 0;
    virtual void resetMeasurement() = 0;    // integrated, LRA, PSR and peaks
    virtual void spectrogramChannelChanged(SpectrumChannel channel) = 0;
    virtual void autoResetChanged(bool on) = 0;

    // Capture and placement.
    virtual void listenChanged() = 0;
    virtual std::optional<MeasuredDevice> measuredDevice() const = 0;
    virtual void outputChanged() = 0;
    virtual void setDetached(bool detached) = 0;

    // Live and the application.
    virtual void restartLive() = 0;
    virtual void quit() = 0;

    // The bar's own answers to its gestures, where it has them: a module's
    // option rows (nothing: the services' own catalogue), and taking a
    // module out of the bar (false: the services do it themselves).
    virtual std::optional<std::vector<DrawerControl>> moduleRows(ColorArea /*area*/) { return std::nullopt; }
    virtual bool hideModule(ColorArea /*area*/) { return false; }
};

class AppServices {
public:
    struct Ports {
        Alerts& alerts;
        WebPages& pages;
        CrashUpload& upload;
    };

    AppServices(ServicesHost& host, Ports ports, CrashReporter& crashes, LoginItem loginItem);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    // ---- Start-up, in the controller's order ---------------------------------
    // Before the first launch is recorded: whether the notice is due.
    bool whatsNewPending(bool hadUsedBefore);
    // After the migrations: the login default, the crash folder, the tray.
    void start();

    // ---- The controller's hooks ----------------------------------------------
    // Stores the current version, then shows the notice.
    void showWhatsNew();
    bool crashReportPending() const { return crashes_.pending().has_value(); }
    void askAboutCrash();

    // ---- Actions -------------------------------------------------------------
    void openSettingsWindow();
    void showAbout();
    void checkForUpdates();
    void openSitePage(const std::string& anchor);
    void explainLiveHelper();
    void openAccessibility();
    void setLaunchAtLogin(bool on);
    bool launchAtLogin() const { return loginItem_.isEnabled(); }
    void resetGraphSplit();
    void resetLayout();

    // ---- Menus ---------------------------------------------------------------
    Menu mainMenu();
    Menu statusMenu();
    // The menus the bar's gestures open, at a desktop point.
    void showModuleMenu(ColorArea area, QPoint global);
    void showAddMenu(QPoint global);
    Menu moduleMenu(ColorArea area);
    Menu addMenu();
    // The same as the bar's menus: Live-styled for a theme that follows
    // Live, else plain; the add menu is nothing when every module is shown.
    std::unique_ptr<BarMenu> moduleBarMenu(ColorArea area);
    std::unique_ptr<BarMenu> addBarMenu();
    // The main menu in a window's menu bar.
    void installMenuBar(QMenuBar& bar);
    // A Ctrl shortcut pressed while the pinned bar has the keyboard: runs the
    // main menu's item with it; true when there was one.
    bool runShortcut(int qtKey, bool control, bool meta, bool shift);
    bool menuOpen() const;

    // The catalogue's host for the module rows, held weakly by their actions.
    std::shared_ptr<DrawerHost> drawerHost() const;
    DrawerCatalogue catalogue() const;
    SettingsWindow* settingsWindow() const { return settingsWindow_.get(); }
    AboutWindow* aboutWindow() const { return aboutWindow_.get(); }
    TrayMenu* tray() const { return tray_.get(); }
    Updater& updater() { return updater_; }
    std::string site() const;

private:
    class Drawer;
    class SettingsBridge;
    class AskingAlerts;

    ServicesHost& host_;
    Ports ports_;
    CrashReporter& crashes_;
    LoginItem loginItem_;
    Updater updater_;
    std::unique_ptr<AskingAlerts> alerts_;
    std::shared_ptr<Drawer> drawer_;
    std::shared_ptr<SettingsBridge> settingsBridge_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    std::unique_ptr<AboutWindow> aboutWindow_;
    std::unique_ptr<TrayMenu> tray_;
    std::unique_ptr<QColorDialog> colorWheel_;
    std::optional<ColorArea> colorWheelArea_;
};

}  // namespace crestline
