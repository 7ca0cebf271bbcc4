#include "app/app_services.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>

#include "app/about_window.h"
#include "app/live_menu.h"
#include "app/qt_menus.h"
#include "app/whats_new.h"
#include "settings/settings.h"
#include "tests/app/service_fakes.h"
#include "tests/settings/test_folder.h"

namespace crestline {
namespace {

std::vector<std::string> outlineTitles(const Menu& menu) {
    std::vector<std::string> titles;
    for (const MenuItem& item : menu) titles.push_back(item.title);
    return titles;
}

class FakeServicesHost final : public ServicesHost {
public:
    explicit FakeServicesHost(Settings& settings) : settings_(settings) {}
    Settings& settings() override { return settings_; }
    BarTheme theme() override { return themeInUse; }
    StatusState statusState() override { return status; }
    bool liveRunning() const override { return status.liveRunning; }
    bool floating() const override { return isFloating; }
    void setAsking(bool on) override { asking = on; }
    void redraw() override { note("redraw"); }
    void relayout() override { note("relayout"); }
    void refreshPalette() override { note("palette"); }
    void toggleFullScreen() override { note("fullScreen"); }
    void hideBar() override { note("hide"); }
    void beforeStatusMenu() override { note("beforeStatusMenu"); }
    void resetMeter() override { note("resetMeter"); }
    void clearHistory() override { note("clearHistory"); }
    void clearScopeOverview() override { note("clearScope"); }
    void clearSpectrogram() override { note("clearSpectrogram"); }
    void resetMeasurement() override { note("resetMeasurement"); }
    void spectrogramChannelChanged(SpectrumChannel) override { note("channel"); }
    void autoResetChanged(bool) override { note("autoReset"); }
    void listenChanged() override { note("listen"); }
    std::optional<MeasuredDevice> measuredDevice() const override { return std::nullopt; }
    void outputChanged() override { note("output"); }
    void setDetached(bool on) override { note(on ? "detach" : "pin"); }
    void restartLive() override { note("restartLive"); }
    void quit() override { note("quit"); }

    void note(std::string what) { calls.push_back(std::move(what)); }
    StatusState status;
    bool isFloating = false;
    bool asking = false;
    BarTheme themeInUse = BarTheme::scope();
    std::vector<std::string> calls;

private:
    Settings& settings_;
};

class AppServicesTest : public ::testing::Test {
protected:
    AppServicesTest() { test::application(); }
    ~AppServicesTest() override {
        if (LiveMenu* open = LiveMenu::open()) open->close();
        QCoreApplication::processEvents();
    }

    std::filesystem::path folder = test::freshFolder();
    FakeClock clock;
    Settings settings{folder / "settings.json", clock, Settings::Writing::manual};
    FakeServicesHost host{settings};
    test::ScriptedAlerts alerts;
    test::RecordingPages pages;
    test::RecordingUpload upload;
    CrashReporter crashes{settings, clock, folder / "crashes", {"1", "2", "os", "pc", "Debian"}, {}};
    AppServices services{host, {alerts, pages, upload}, crashes, LoginItem(folder / "autostart", "/usr/bin/crestline")};
};

TEST_F(AppServicesTest, StartUpAppliesTheFirstRunRulesOnce) {
    EXPECT_FALSE(services.whatsNewPending(false));  // first launch: stored, not shown
    EXPECT_EQ(settings.string(WhatsNew::kLastSeenKey), WhatsNew::currentVersion());
    services.start();
    EXPECT_TRUE(services.launchAtLogin());  // an installed copy
    EXPECT_TRUE(settings.date(CrashReporter::kCheckedUntilKey).has_value());
    EXPECT_FALSE(services.crashReportPending());
    ASSERT_NE(services.tray(), nullptr);
    // The tray's menu is built anew as it opens.
    host.status = StatusState{};
    emit services.tray()->menu().aboutToShow();
    EXPECT_EQ(host.calls, std::vector<std::string>{"beforeStatusMenu"});
    EXPECT_EQ(services.tray()->menu().actions().front()->text(), "Ableton Live is not running");
    EXPECT_FALSE(services.tray()->menu().actions().front()->isEnabled());
}

TEST_F(AppServicesTest, QuestionsMarkTheControllerAsAskingUntilAnswered) {
    settings.setString(WhatsNew::kLastSeenKey, "0.0.1");
    services.showWhatsNew();
    EXPECT_EQ(settings.string(WhatsNew::kLastSeenKey), WhatsNew::currentVersion());
    EXPECT_TRUE(host.asking);
    alerts.answer(AlertAnswer::second);
    EXPECT_FALSE(host.asking);
    EXPECT_EQ(pages.opened, std::vector<std::string>{"https://crestline.app#updates"});

    crashes.offer({"report", "SIGSEGV"});
    ASSERT_TRUE(services.crashReportPending());
    services.askAboutCrash();
    EXPECT_TRUE(host.asking);
    EXPECT_FALSE(services.crashReportPending());
    alerts.answer(AlertAnswer::first);
    EXPECT_FALSE(host.asking);
    ASSERT_EQ(upload.posts.size(), 1u);
    EXPECT_EQ(upload.posts[0].first, "https://crestline.app/api/crash");
}

TEST_F(AppServicesTest, ShortcutsRunTheMainMenuWithItsRules) {
    EXPECT_TRUE(services.runShortcut(Qt::Key_R, true, false, false));
    EXPECT_FALSE(services.runShortcut(Qt::Key_R, false, false, false));  // not a Ctrl key
    EXPECT_FALSE(services.runShortcut(Qt::Key_J, true, false, false));   // no such item
    // Full screen is the floating window's: taken but not run while pinned.
    EXPECT_TRUE(services.runShortcut(Qt::Key_F, true, true, false));
    host.isFloating = true;
    EXPECT_TRUE(services.runShortcut(Qt::Key_F, true, true, false));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"resetMeter", "fullScreen"}));
}

TEST_F(AppServicesTest, ModuleMenusAreLiveStyledOnlyForALiveTheme) {
    services.showModuleMenu(ColorArea::scope, QPoint(10, 10));
    EXPECT_EQ(LiveMenu::open(), nullptr);  // the scope theme: a plain menu
    EXPECT_TRUE(services.menuOpen());
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    QCoreApplication::processEvents();

    host.themeInUse = BarTheme::liveDark().matchingLive(std::nullopt);
    host.themeInUse.squared = true;
    services.showModuleMenu(ColorArea::meter, QPoint(10, 10));
    LiveMenu* live = LiveMenu::open();
    ASSERT_NE(live, nullptr);
    EXPECT_TRUE(services.menuOpen());
    // Choosing Delete takes the meter out of the bar.
    live->key(Qt::Key_Up);
    EXPECT_EQ(live->rows(0)[static_cast<std::size_t>(*live->highlighted(0))].title, "Delete");
    live->key(Qt::Key_Return);
    EXPECT_FALSE(settings.showMeter());
    EXPECT_EQ(host.calls, std::vector<std::string>{"relayout"});
    EXPECT_EQ(outlineTitles(services.addMenu()).back(), "Meter");
}

TEST_F(AppServicesTest, TheBarsMenusCloseOnceAndTheAddMenuOnlyWithSomethingToAdd) {
    BarTheme live = BarTheme::liveDark();
    live.squared = true;
    for (const BarTheme& theme : {BarTheme::scope(), live}) {
        std::unique_ptr<BarMenu> menu = services.moduleBarMenu(ColorArea::history);
        int closed = 0;
        menu->popUp(QPoint(20, 20), theme, [&] { ++closed; });
        EXPECT_TRUE(menu->isOpen()) << theme.squared;
        EXPECT_EQ(LiveMenu::open() != nullptr, theme.squared);
        menu->close();
        menu->close();
        EXPECT_FALSE(menu->isOpen());
        EXPECT_EQ(closed, 1) << theme.squared;
        QCoreApplication::processEvents();
    }
    settings.setModuleOrder({ColorArea::scope, ColorArea::spectrum, ColorArea::imager, ColorArea::history,
                             ColorArea::spectrogram, ColorArea::meter});
    EXPECT_EQ(services.addBarMenu(), nullptr);
    settings.setBool("showMeter", false);
    EXPECT_NE(services.addBarMenu(), nullptr);
}

TEST_F(AppServicesTest, WindowsAreMadeOnceAndSayWhatTheyShould) {
    services.openSettingsWindow();
    SettingsWindow* window = services.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Crestline Settings");
    services.openSettingsWindow();
    EXPECT_EQ(services.settingsWindow(), window);

    services.showAbout();
    const QString about = services.aboutWindow()->text();
    EXPECT_TRUE(about.contains("Version " + QString::fromStdString(WhatsNew::currentVersion())));
    EXPECT_TRUE(about.contains("https://crestline.app"));
    EXPECT_TRUE(about.contains("Ableton AG"));
    EXPECT_FALSE(services.aboutWindow()->licencesShown());
    services.aboutWindow()->toggleLicences();
    EXPECT_TRUE(services.aboutWindow()->licencesShown());
    EXPECT_TRUE(services.aboutWindow()->text().contains("FFTW 3: GNU GPL 2 or later"));

    services.checkForUpdates();
    services.openSitePage("#feedback");
    EXPECT_EQ(pages.opened, (std::vector<std::string>{"https://crestline.app/download", "https://crestline.app#feedback"}));
}

}  // namespace
}  // namespace crestline
