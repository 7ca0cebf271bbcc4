#include "app/app_services.h"

#include <QApplication>
#include <QColorDialog>
#include <QKeySequence>
#include <QMenuBar>

#include "app/about_window.h"
#include "app/live_menu.h"
#include "app/product_site.h"
#include "app/qt_menus.h"
#include "app/whats_new.h"
#include "settings/settings.h"

namespace crestline {

// Marks the controller as asking while an alert of ours is on screen.
class AppServices::AskingAlerts final : public Alerts {
public:
    AskingAlerts(Alerts& inner, ServicesHost& host) : inner_(inner), host_(host) {}
    void show(const Alert& alert, std::function<void(AlertAnswer)> answered) override {
        host_.setAsking(true);
        inner_.show(alert, [this, answered = std::move(answered)](AlertAnswer answer) {
            host_.setAsking(false);
            if (answered) answered(answer);
        });
    }

private:
    Alerts& inner_;
    ServicesHost& host_;
};

// The module rows' host: their actions land on the bar and the analysers.
class AppServices::Drawer final : public DrawerHost {
public:
    explicit Drawer(AppServices& owner) : owner_(owner) {}
    void redraw() override { owner_.host_.redraw(); }
    void relayout() override { owner_.host_.relayout(); }
    void refreshPalette() override { owner_.host_.refreshPalette(); }
    void clearScopeOverview() override { owner_.host_.clearScopeOverview(); }
    void clearMeterHistory() override { owner_.host_.clearHistory(); }
    void clearSpectrogram() override { owner_.host_.clearSpectrogram(); }
    void resetMeasurement() override { owner_.host_.resetMeasurement(); }
    void spectrogramChannelChanged(SpectrumChannel channel) override { owner_.host_.spectrogramChannelChanged(channel); }
    void autoResetChanged(bool on) override { owner_.host_.autoResetChanged(on); }
    void openColorWheel(ColorArea area) override;
    void askCustomTarget(std::optional<double> current, std::function<void(std::optional<double>)> set) override {
        crestline::askCustomTarget(owner_.host_.settings(), current, std::move(set));
    }

private:
    AppServices& owner_;
};

class AppServices::SettingsBridge final : public SettingsHost {
public:
    explicit SettingsBridge(AppServices& owner) : owner_(owner) {}
    void listenChanged() override { owner_.host_.listenChanged(); }
    std::optional<MeasuredDevice> measuredDevice() const override { return owner_.host_.measuredDevice(); }
    void outputChanged() override { owner_.host_.outputChanged(); }
    bool detached() const override { return owner_.host_.floating(); }
    void setDetached(bool detached) override { owner_.host_.setDetached(detached); }
    bool launchAtLogin() const override { return owner_.launchAtLogin(); }
    void setLaunchAtLogin(bool on) override { owner_.setLaunchAtLogin(on); }
    void redraw() override { owner_.host_.redraw(); }

private:
    AppServices& owner_;
};

void AppServices::Drawer::openColorWheel(ColorArea area) {
    AppServices& o = owner_;
    if (!o.colorWheel_) {
        o.colorWheel_ = std::make_unique<QColorDialog>();
        o.colorWheel_->setWindowTitle(QStringLiteral("Colour"));
        o.colorWheel_->setOption(QColorDialog::NoButtons, true);
        o.colorWheel_->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        // Every move of the wheel colours the module at once.
        QObject::connect(o.colorWheel_.get(), &QColorDialog::currentColorChanged, o.colorWheel_.get(),
                         [&o](const QColor& colour) {
                             if (!o.colorWheelArea_ || !colour.isValid()) return;
                             o.host_.settings().setAccentColor(Rgb{colour.redF(), colour.greenF(), colour.blueF()},
                                                                *o.colorWheelArea_);
                             o.host_.refreshPalette();
                         });
    }
    o.colorWheelArea_ = area;
    const auto current = o.host_.settings().accentColor(area);
    const Rgb start = current ? *current : DrawerCatalogue::colorChoices().front().color;
    {
        const QSignalBlocker quiet(o.colorWheel_.get());
        o.colorWheel_->setCurrentColor(QColor::fromRgbF(static_cast<float>(start[0]), static_cast<float>(start[1]),
                                                        static_cast<float>(start[2])));
    }
    o.colorWheel_->show();
    o.colorWheel_->raise();
    o.colorWheel_->activateWindow();
}

AppServices::AppServices(ServicesHost& host, Ports ports, CrashReporter& crashes, LoginItem loginItem)
    : host_(host),
      ports_(ports),
      crashes_(crashes),
      loginItem_(std::move(loginItem)),
      alerts_(std::make_unique<AskingAlerts>(ports.alerts, host)),
      drawer_(std::make_shared<Drawer>(*this)),
      settingsBridge_(std::make_shared<SettingsBridge>(*this)) {}

AppServices::~AppServices() {
    if (LiveMenu* open = LiveMenu::open()) open->close();
}

std::string AppServices::site() const { return productSite(host_.settings()); }

bool AppServices::whatsNewPending(bool hadUsedBefore) {
    return WhatsNew::isPending(host_.settings(), hadUsedBefore, WhatsNew::currentVersion());
}

void AppServices::start() {
    loginItem_.openAtLoginByDefault(host_.settings());
    crashes_.start();
    tray_ = std::make_unique<TrayMenu>([this] { return statusMenu(); }, [this] { host_.beforeStatusMenu(); });
    tray_->show();
}

void AppServices::showWhatsNew() {
    host_.settings().setString(WhatsNew::kLastSeenKey, WhatsNew::currentVersion());
    WhatsNew::show(*alerts_, ports_.pages, site());
}

void AppServices::askAboutCrash() { crashes_.ask(*alerts_, ports_.upload, crashEndpoint(host_.settings())); }

void AppServices::openSettingsWindow() {
    if (!settingsWindow_) {
        std::weak_ptr<SettingsHost> bridge = settingsBridge_;
        Settings& settings = host_.settings();
        settingsWindow_ = std::make_unique<SettingsWindow>([&settings, bridge] { return settingsTabs(settings, bridge); });
    }
    settingsWindow_->present(host_.theme());
}

void AppServices::showAbout() {
    if (!aboutWindow_) aboutWindow_ = std::make_unique<AboutWindow>(site());
    aboutWindow_->present();
}

void AppServices::checkForUpdates() { updater_.checkForUpdates(ports_.pages, site()); }

void AppServices::openSitePage(const std::string& anchor) { ports_.pages.open(site() + anchor); }

void AppServices::explainLiveHelper() {
    alerts_->show(Alert{kHelperExplanationTitle, kHelperExplanation, "OK", ""}, {});
}

void AppServices::openAccessibility() {
    // X11 lets us read Live's windows without anyone's leave; the item is
    // never offered there. Point to the help page should it ever be.
    openSitePage("#start");
}

void AppServices::setLaunchAtLogin(bool on) {
    if (on != loginItem_.isEnabled()) loginItem_.setEnabled(on);
}

void AppServices::resetGraphSplit() {
    crestline::resetGraphSplit(host_.settings());
    host_.relayout();
}

void AppServices::resetLayout() {
    host_.settings().resetLayout();
    host_.relayout();
    host_.refreshPalette();
}

Menu AppServices::mainMenu() {
    MainMenuActions actions;
    actions.showAbout = [this] { showAbout(); };
    actions.openSettings = [this] { openSettingsWindow(); };
    actions.checkForUpdates = [this] { checkForUpdates(); };
    actions.hide = [this] { host_.hideBar(); };
    actions.quit = [this] { host_.quit(); };
    actions.resetMeter = [this] { host_.resetMeter(); };
    actions.clearHistory = [this] { host_.clearHistory(); };
    actions.toggleFullScreen = [this] { host_.toggleFullScreen(); };
    actions.resetSizes = [this] { resetGraphSplit(); };
    actions.resetLayout = [this] { resetLayout(); };
    actions.openSitePage = [this](const std::string& anchor) { openSitePage(anchor); };
    return crestline::mainMenu(actions);
}

Menu AppServices::statusMenu() {
    StatusState state = host_.statusState();
    state.updateVersion = updater_.availableVersion();
    StatusActions actions;
    actions.checkForUpdates = [this] { checkForUpdates(); };
    actions.openAccessibility = [this] { openAccessibility(); };
    actions.restartLive = [this] { host_.restartLive(); };
    actions.explainLiveHelper = [this] { explainLiveHelper(); };
    actions.openSettings = [this] { openSettingsWindow(); };
    actions.quit = [this] { host_.quit(); };
    return crestline::statusMenu(state, actions);
}

std::shared_ptr<DrawerHost> AppServices::drawerHost() const { return drawer_; }

DrawerCatalogue AppServices::catalogue() const { return DrawerCatalogue(host_.settings(), std::weak_ptr<DrawerHost>(drawer_)); }

Menu AppServices::moduleMenu(ColorArea area) {
    Settings& settings = host_.settings();
    const auto colour = settings.accentColor(area);
    auto rows = host_.moduleRows(area);
    return crestline::moduleMenu(rows ? std::move(*rows) : catalogue().drawerControls(area),
                                 colour ? colour : std::optional<Rgb>(DrawerCatalogue::colorChoices().front().color),
                                 [this, area] {
                                     if (host_.hideModule(area)) return;
                                     removeModule(host_.settings(), area);
                                     host_.relayout();
                                 });
}

Menu AppServices::addMenu() {
    return crestline::addMenu(host_.settings(), [this](ColorArea area) {
        addModule(host_.settings(), area);
        host_.relayout();
        host_.refreshPalette();
    });
}

std::unique_ptr<BarMenu> AppServices::moduleBarMenu(ColorArea area) { return menuForBar(moduleMenu(area)); }

std::unique_ptr<BarMenu> AppServices::addBarMenu() {
    Menu menu = addMenu();
    if (menu.empty()) return nullptr;
    return menuForBar(std::move(menu));
}

void AppServices::showModuleMenu(ColorArea area, QPoint global) {
    popUpModuleMenu(moduleMenu(area), global, host_.theme());
}

void AppServices::showAddMenu(QPoint global) { popUpModuleMenu(addMenu(), global, host_.theme()); }

void AppServices::installMenuBar(QMenuBar& bar) {
    fillMenuBar(bar, mainMenu(), [this] { return MenuValidity{host_.liveRunning(), host_.floating()}; });
}

namespace {

const MenuItem* findShortcut(const Menu& menu, const QKeySequence& pressed) {
    for (const MenuItem& item : menu) {
        if (!item.shortcut.empty() && QKeySequence(QString::fromStdString(item.shortcut)) == pressed) return &item;
        if (const MenuItem* inner = findShortcut(item.submenu, pressed)) return inner;
    }
    return nullptr;
}

}  // namespace

bool AppServices::runShortcut(int qtKey, bool control, bool meta, bool shift) {
    if (!control) return false;
    Qt::KeyboardModifiers modifiers = Qt::ControlModifier;
    if (meta) modifiers |= Qt::MetaModifier;
    if (shift) modifiers |= Qt::ShiftModifier;
    const QKeySequence pressed(QKeyCombination(modifiers, static_cast<Qt::Key>(qtKey)));
    const Menu menu = mainMenu();
    const MenuItem* item = findShortcut(menu, pressed);
    if (item == nullptr || !item->action) return false;
    if (!menuItemEnabled(item->role, host_.liveRunning(), host_.floating())) return true;
    item->action();
    return true;
}

bool AppServices::menuOpen() const {
    return LiveMenu::open() != nullptr || QApplication::activePopupWidget() != nullptr;
}

}  // namespace crestline
