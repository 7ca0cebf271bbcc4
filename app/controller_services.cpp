#include "app/controller_services.h"

#include <QApplication>
#include <QLayout>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "analysis/audio_engine.h"
#include "app/app_paths.h"
#include "app/crash_handler.h"
#include "app/crestline_app.h"
#include "app/desktop_placement.h"
#include "bar/bar_view.h"
#include "live/live_sync.h"
#include "settings/settings.h"

namespace crestline {
namespace {

// A bar window is often as low as one line of text: the menu bar would take
// most of it. It shows once the window is tall enough for a dashboard; its
// shortcuts work either way, as the window's own actions.
constexpr int kMenuBarFromHeight = 110;

class MenuBarFit final : public QObject {
public:
    MenuBarFit(QWidget& window, QMenuBar& bar) : QObject(&window), bar_(bar) {
        window.installEventFilter(this);
        fit(window.height());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) fit(static_cast<QWidget*>(watched)->height());
        return false;
    }

private:
    void fit(int height) { bar_.setVisible(height >= kMenuBarFromHeight); }
    QMenuBar& bar_;
};

}  // namespace

class ControllerServices::Host final : public ServicesHost {
public:
    explicit Host(CrestlineApp& app) : app_(app) {}

    Settings& settings() override { return app_.settings(); }
    BarTheme theme() override { return currentTheme(app_.settings()); }
    StatusState statusState() override {
        StatusState state;
        state.liveRunning = app_.livePid().has_value();
        state.standalone = app_.standalone();
        state.hasTap = app_.captureBusy() || app_.engine().tap() != nullptr;
        // X11 reads Live's windows without anyone's leave.
        state.trusted = true;
        const double now = app_.clock().now();
        {
            std::scoped_lock held(app_.sync().lock());
            const double last = app_.sync().stateLocked().helperLastMessage;
            state.helperHeardRecently = last > 0.0 && now - last < CrestlineApp::kHelperConnectedSeconds;
        }
        state.liveRunningSeconds = state.liveRunning ? now - app_.liveSince() : 0.0;
        state.registration = app_.liveHelperRegistration();
        return state;
    }
    bool liveRunning() const override { return app_.livePid().has_value(); }
    bool floating() const override { return app_.placement().floating(); }
    void setAsking(bool on) override { app_.setAsking(on); }

    void redraw() override { app_.placement().redraw(); }
    void relayout() override {
        app_.placement().layoutBar();
        app_.placement().redraw();
    }
    void refreshPalette() override {
        app_.view().setTheme(currentTheme(app_.settings()));
        app_.placement().redraw();
    }
    void toggleFullScreen() override {
        BarPlacement* placement = barPlacement();
        if (placement == nullptr || !placement->floating()) return;
        QWidget& window = placement->floatingWindow();
        window.isFullScreen() ? window.showNormal() : window.showFullScreen();
    }
    void hideBar() override {
        BarPlacement* placement = barPlacement();
        if (placement != nullptr && placement->floating()) placement->floatingWindow().showMinimized();
    }
    void beforeStatusMenu() override { app_.placement().redraw(); }

    void resetMeter() override {
        app_.engine().resetMeter();
        app_.view().resetPeaks();
        redraw();
    }
    void clearHistory() override {
        app_.engine().meter().withLock([](LoudnessMeter& meter) { meter.resetHistoryLocked(); });
        redraw();
    }
    void clearScopeOverview() override { app_.engine().scope().clearOverview(); }
    void clearSpectrogram() override { app_.engine().spectrogram().resetHistory(); }
    void resetMeasurement() override {
        app_.engine().resetIntegrated();
        app_.engine().resetTruePeak();
        app_.view().resetPeaks();
    }
    void spectrogramChannelChanged(SpectrumChannel channel) override { app_.engine().spectrogram().setChannel(channel); }
    void autoResetChanged(bool on) override { app_.engine().meter().setAutoResetEnabled(on); }

    void listenChanged() override {
        app_.engine().meter().withLock([](LoudnessMeter& meter) {
            meter.resetIntegratedLocked();
            meter.resetHistoryLocked();
        });
        app_.reattach();
    }
    std::optional<MeasuredDevice> measuredDevice() const override {
        if (app_.captureBusy()) return std::nullopt;
        const auto& tap = app_.engine().tap();
        if (!tap || !tap->device()) return std::nullopt;
        const auto& device = *tap->device();
        // A sink is one output stream of its channel count.
        return MeasuredDevice{device.uid, device.name, {device.channels}, tap->source()};
    }
    void outputChanged() override { app_.reattach(); }
    void setDetached(bool detached) override {
        if (BarPlacement* placement = barPlacement()) placement->setDetached(detached);
    }

    void restartLive() override { app_.restartLive(); }
    void quit() override { QCoreApplication::quit(); }

    // The bar's commands answer its rows and its Delete.
    std::optional<std::vector<DrawerControl>> moduleRows(ColorArea area) override {
        if (!app_.view().moduleControls) return std::nullopt;
        return app_.view().moduleControls(area);
    }
    bool hideModule(ColorArea area) override {
        if (!app_.view().onLayoutHide) return false;
        app_.view().onLayoutHide(area);
        return true;
    }

private:
    BarPlacement* barPlacement() const {
        auto* desktop = dynamic_cast<DesktopPlacement*>(&app_.placement());
        return desktop != nullptr ? desktop->placement() : nullptr;
    }

    CrestlineApp& app_;
};

ControllerServices::ControllerServices(CrestlineApp& app)
    : app_(app),
      crashes_(std::make_unique<CrashReporter>(app.settings(), app.clock(), defaultCrashFolder(), currentCrashIdentity(),
                                               currentScrubNames())),
      host_(std::make_unique<Host>(app)),
      services_(std::make_unique<AppServices>(*host_, AppServices::Ports{alerts_, pages_, upload_}, *crashes_,
                                              LoginItem(LoginItem::defaultFolder(), executablePath()))) {
    app.whatsNewPending = services_->whatsNewPending(app.settings().firstLaunch().has_value());
    AppServices* services = services_.get();
    app.showWhatsNew = [services] { services->showWhatsNew(); };
    app.crashReportPending = [services] { return services->crashReportPending(); };
    app.askAboutCrash = [services] { services->askAboutCrash(); };
    app.onMenuShortcut = [services](const KeyPress& key) {
        return services->runShortcut(key.key, key.control, key.meta, key.shift);
    };
    app.isMenuOpen = [services] { return services->menuOpen(); };
}

ControllerServices::~ControllerServices() {
    BarView& view = app_.view();
    view.moduleMenu = nullptr;
    view.addMenu = nullptr;
    view.applicationMenuOpen = nullptr;
    app_.showWhatsNew = nullptr;
    app_.crashReportPending = nullptr;
    app_.askAboutCrash = nullptr;
    app_.onMenuShortcut = nullptr;
    app_.isMenuOpen = nullptr;
}

void ControllerServices::start() {
    services_->start();
    // The bar's gestures open our menus (after the controller's start,
    // which connects the bar's own commands first).
    AppServices* services = services_.get();
    BarView& view = app_.view();
    view.moduleMenu = [services](ColorArea area) { return services->moduleBarMenu(area); };
    view.addMenu = [services] { return services->addBarMenu(); };
    view.applicationMenuOpen = [services] { return services->menuOpen(); };

    auto* desktop = dynamic_cast<DesktopPlacement*>(&app_.placement());
    if (desktop == nullptr || desktop->placement() == nullptr) return;
    QWidget& window = desktop->placement()->floatingWindow();
    if (window.layout() == nullptr) return;
    auto* bar = new QMenuBar(&window);
    services_->installMenuBar(*bar);
    window.layout()->setMenuBar(bar);
    for (QAction* top : bar->actions()) {
        if (QMenu* menu = top->menu()) window.addActions(menu->actions());
    }
    new MenuBarFit(window, *bar);
}

}  // namespace crestline
