#include "app/menus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "app/live_menu.h"
#include "app/qt_menus.h"
#include "settings/settings.h"
#include "tests/app/service_fakes.h"
#include "tests/settings/test_folder.h"

namespace crestline {
namespace {

using Kind = MenuItem::Kind;

// The menu as one line per item: "-" for a separator, "#title" for a
// heading, "(title)" for a disabled item, "title" otherwise.
std::vector<std::string> outline(const Menu& menu) {
    std::vector<std::string> lines;
    for (const MenuItem& item : menu) {
        if (item.kind == Kind::separator) lines.push_back("-");
        else if (item.kind == Kind::heading) lines.push_back("#" + item.title);
        else lines.push_back(item.enabled ? item.title : "(" + item.title + ")");
    }
    return lines;
}

const MenuItem& find(const Menu& menu, const std::string& title) {
    for (const MenuItem& item : menu)
        if (item.title == title) return item;
    ADD_FAILURE() << "no item " << title;
    static const MenuItem none;
    return none;
}

// The catalogue's host: actions only need one to exist.
class QuietHost final : public DrawerHost {
public:
    void redraw() override {}
    void relayout() override {}
    void refreshPalette() override {}
    void clearScopeOverview() override {}
    void clearMeterHistory() override {}
    void clearSpectrogram() override {}
    void resetMeasurement() override {}
    void spectrogramChannelChanged(SpectrumChannel) override {}
    void autoResetChanged(bool) override {}
    void openColorWheel(ColorArea) override {}
    void askCustomTarget(std::optional<double>, std::function<void(std::optional<double>)>) override {}
};

class MenusTest : public ::testing::Test {
protected:
    MenusTest() { test::application(); }

    std::filesystem::path folder = test::freshFolder();
    FakeClock clock;
    Settings settings{folder / "settings.json", clock, Settings::Writing::manual};
    std::shared_ptr<QuietHost> host = std::make_shared<QuietHost>();
    DrawerCatalogue catalogue{settings, host};
    std::vector<std::string> ran;

    StatusActions statusActions() {
        const auto note = [this](std::string what) { return [this, what] { ran.push_back(what); }; };
        return {note("update"), note("accessibility"), note("restart"), note("explain"), note("settings"), note("quit")};
    }
};

TEST_F(MenusTest, TheStatusMenuShowsWhatNeedsAttentionInOrder) {
    using Registration = LiveHelper::Registration;
    StatusState away;  // Live not running, not standalone
    StatusState attached{.liveRunning = true, .hasTap = true, .liveRunningSeconds = 30.0,
                         .registration = Registration::added(2)};
    const struct {
        const char* name;
        StatusState state;
        std::vector<std::string> items;
    } cases[] = {
        {"waiting for Live", away, {"(Ableton Live is not running)", "-", "Settings…", "-", "Quit Crestline"}},
        {"an update while waiting",
         [&] { auto s = away; s.updateVersion = "1.2"; s.hasTap = false; s.trusted = false; return s; }(),
         {"Update to Crestline 1.2", "(Ableton Live is not running)", "-", "Settings…", "-", "Quit Crestline"}},
        {"standalone without Live", StatusState{.standalone = true, .hasTap = true}, {"Settings…", "-", "Quit Crestline"}},
        {"attached, helper registered but Live not restarted", attached,
         {"Restart Live to Show Markers…", "-", "Settings…", "-", "Quit Crestline"}},
        {"the helper talks", [&] { auto s = attached; s.helperHeardRecently = true; return s; }(),
         {"Settings…", "-", "Quit Crestline"}},
        {"Live only just started", [&] { auto s = attached; s.liveRunningSeconds = 20.0; return s; }(),
         {"Settings…", "-", "Quit Crestline"}},
        {"no registration this run", [&] { auto s = attached; s.registration.reset(); return s; }(),
         {"Restart Live to Show Markers…", "-", "Settings…", "-", "Quit Crestline"}},
        {"no free slot, no tap, no trust",
         [&] {
             auto s = attached;
             s.registration = Registration::noFreeSlot();
             s.hasTap = false;
             s.trusted = false;
             return s;
         }(),
         {"(Waiting for Live's audio…)", "Allow Accessibility Access…", "Finish Setting Up Markers…", "-", "Settings…",
          "-", "Quit Crestline"}},
        {"unrecognised preferences", [&] { auto s = attached; s.registration = Registration::unrecognised(); return s; }(),
         {"Finish Setting Up Markers…", "-", "Settings…", "-", "Quit Crestline"}},
    };
    for (const auto& c : cases) EXPECT_EQ(outline(statusMenu(c.state, statusActions())), c.items) << c.name;

    const Menu menu = statusMenu(cases[7].state, statusActions());
    for (const MenuItem& item : menu)
        if (item.action) item.action();
    EXPECT_EQ(ran, (std::vector<std::string>{"accessibility", "explain", "settings", "quit"}));
    EXPECT_EQ(find(menu, "Settings…").shortcut, "Ctrl+,");
    EXPECT_EQ(find(menu, "Quit Crestline").shortcut, "Ctrl+Q");
}

TEST_F(MenusTest, TheMainMenuHasItsShortcutsAndFullScreenOnlyWhenFloating) {
    EXPECT_TRUE(menuItemEnabled(MenuRole::positionPinned, true, false));
    EXPECT_FALSE(menuItemEnabled(MenuRole::positionPinned, false, true));
    EXPECT_TRUE(menuItemEnabled(MenuRole::positionFloating, false, false));

    const Menu menu = mainMenu({});
    EXPECT_EQ(outline(menu), (std::vector<std::string>{"Crestline", "View", "Window", "Help"}));
    EXPECT_EQ(outline(menu[0].submenu), (std::vector<std::string>{"About Crestline", "-", "Settings…",
                                                                  "Check for Updates…", "-", "Hide Crestline", "-",
                                                                  "Quit Crestline"}));
    EXPECT_EQ(find(menu[1].submenu, "Reset Meter").shortcut, "Ctrl+R");

    MenuValidity validity{.liveRunning = true, .floating = false};
    QWidget window;
    QMenuBar bar(&window);
    fillMenuBar(bar, menu, [&validity] { return validity; });
    QMenu* view = bar.actions().at(1)->menu();
    ASSERT_NE(view, nullptr);
    QAction* fullScreen = view->actions().back();
    EXPECT_EQ(fullScreen->text(), "Toggle Full Screen");
    EXPECT_EQ(fullScreen->shortcut(), QKeySequence(QStringLiteral("Ctrl+Meta+F")));
    EXPECT_FALSE(fullScreen->isEnabled());  // pinned
    validity.floating = true;
    emit view->aboutToShow();
    EXPECT_TRUE(fullScreen->isEnabled());
    EXPECT_TRUE(view->actions().front()->isEnabled());
}

TEST_F(MenusTest, ModuleMenusShowTheRowsWithHeadingsBadgesAndSwatches) {
    bool removed = false;
    const Menu scope = moduleMenu(catalogue.drawerControls(ColorArea::scope), Rgb{0.5, 0.25, 1.0}, [&] { removed = true; });
    EXPECT_EQ(outline(scope), (std::vector<std::string>{"Window", "Channel", "Color Map", "Clear History",
                                                        "Freeze on Hover", "Color", "-", "Delete"}));
    const MenuItem& window = find(scope, "Window");
    EXPECT_EQ(outline(window.submenu),
              (std::vector<std::string>{"#Time", "10 ms", "40 ms", "100 ms", "250 ms", "1 Second", "4 Seconds",
                                        "10 Seconds", "30 Seconds", "#Synced to Live", "1 Beat", "1 Bar", "4 Bars",
                                        "8 Bars", "16 Bars"}));
    EXPECT_FALSE(window.submenu[0].enabled);
    EXPECT_TRUE(window.submenu[1].detail.empty()) << "the heading carries the info";
    // A plain row's options explain themselves.
    EXPECT_EQ(find(scope, "Channel").submenu[0].detail, "Left plus right: the mix as it sounds in mono.");
    EXPECT_EQ(find(scope, "Color").swatch, (Rgb{0.5, 0.25, 1.0}));
    EXPECT_TRUE(find(scope, "Color").submenu[0].swatch.has_value());
    EXPECT_EQ(find(scope, "Clear History").detail, "Empties the waveform kept for the longer windows, in seconds and in bars.");
    EXPECT_EQ(scope.back().shortcut, "Del");
    scope.back().action();
    EXPECT_TRUE(removed);

    settings.setShowMeterPart(MeterPart::psr, false);
    settings.setShowMeterPart(MeterPart::peak, false);
    const Menu meter = moduleMenu(catalogue.drawerControls(ColorArea::meter), std::nullopt, {});
    const MenuItem& shows = find(meter, "Shows");
    EXPECT_EQ(shows.badge, "5 of 7");
    EXPECT_TRUE(shows.submenu[0].keepsMenuOpen);
    EXPECT_TRUE(find(meter, "LUFS Target").badge.empty());
}

TEST_F(MenusTest, TheAddMenuOffersWhatIsNotInTheBarAndAddsIt) {
    settings.setModuleOrder({ColorArea::scope, ColorArea::history});
    Menu menu = addMenu(settings, [this](ColorArea area) { addModule(settings, area); });
    EXPECT_EQ(outline(menu), (std::vector<std::string>{"Spectrum", "Imager", "Spectrogram", "Meter"}));
    EXPECT_EQ(menu[0].icon, ColorArea::spectrum);
    menu[3].action();  // the meter
    menu[0].action();  // the spectrum, last
    EXPECT_TRUE(settings.showMeter());
    EXPECT_EQ(settings.graphOrder().back(), GraphKind::spectrum);
    EXPECT_EQ(outline(addMenu(settings, {})), (std::vector<std::string>{"Imager", "Spectrogram"}));
    removeModule(settings, ColorArea::meter);
    removeModule(settings, ColorArea::scope);
    EXPECT_EQ(outline(addMenu(settings, {})), (std::vector<std::string>{"Oscilloscope", "Imager", "Spectrogram", "Meter"}));
}

TEST_F(MenusTest, ResetSizesForgetsEveryWidth) {
    settings.setGraphSplit(0.3);
    settings.setMeterWidth(200.0);
    settings.setMeterSpread(12.0);
    settings.setModuleWidth(ColorArea::imager, 90.0);
    settings.setNumber("windowWeight3", 2.0);
    settings.setNumber("barHeight", 40.0);
    resetGraphSplit(settings);
    for (const char* key : {"graphSplit", "meterWidth", "meterSpread", "moduleWidth.imager", "windowWeight3"})
        EXPECT_FALSE(settings.contains(key)) << key;
    EXPECT_TRUE(settings.contains("barHeight"));
}

class LiveMenuTest : public MenusTest {
protected:
    ~LiveMenuTest() override {
        if (LiveMenu* open = LiveMenu::open()) open->close();
        QCoreApplication::processEvents();
    }
};

TEST_F(LiveMenuTest, TheKeyboardWalksRowsSubmenusAndChooses) {
    std::vector<std::string> chosen;
    int closed = 0;
    Menu menu;
    menu.push_back(MenuItem::note("Informational"));
    MenuItem window{.title = "Window"};
    window.submenu = {MenuItem::heading("Time"), MenuItem::command("10 ms", [&] { chosen.push_back("10 ms"); }),
                      MenuItem::command("40 ms", [&] { chosen.push_back("40 ms"); }),
                      MenuItem::heading("Synced to Live"), MenuItem::command("1 Bar", [&] { chosen.push_back("1 Bar"); })};
    menu.push_back(window);
    menu.push_back(MenuItem::separator());
    menu.push_back(MenuItem::command("Delete", [&] { chosen.push_back("Delete"); }, "Del"));

    LiveMenu& live = LiveMenu::show(menu, QPoint(100, 100), BarTheme::liveDark(), [&] { ++closed; });
    EXPECT_EQ(LiveMenu::open(), &live);
    ASSERT_EQ(live.levels(), 1);
    EXPECT_EQ(live.rows(0)[0].isNote, true);
    EXPECT_EQ(live.rows(0)[2].frame.height(), LiveMenu::kSeparatorHeight);
    EXPECT_EQ(live.rows(0)[1].frame.height(), LiveMenu::kRowHeight);
    EXPECT_LE(live.panel(0)->width(), LiveMenu::kMaxWidth);

    live.key(Qt::Key_Down);  // the note is skipped
    EXPECT_EQ(live.highlighted(0), 1);
    live.key(Qt::Key_Down);  // and the separator
    EXPECT_EQ(live.highlighted(0), 3);
    live.key(Qt::Key_Down);  // stays on the last row
    EXPECT_EQ(live.highlighted(0), 3);
    live.key(Qt::Key_Up);
    live.key(Qt::Key_Right);  // opens "Window" on its first choosable row
    ASSERT_EQ(live.levels(), 2);
    EXPECT_TRUE(live.rows(1)[0].header);
    EXPECT_EQ(live.highlighted(1), 1);
    // The submenu opens beside its row, one point inside the parent's edge.
    EXPECT_EQ(live.panel(1)->x(), live.panel(0)->geometry().right());
    EXPECT_EQ(live.panel(1)->y(), live.panel(0)->y() + static_cast<int>(live.rows(0)[1].frame.top()));
    live.key(Qt::Key_Down);
    live.key(Qt::Key_Down);  // over the "Synced to Live" heading
    EXPECT_EQ(live.highlighted(1), 4);
    live.key(Qt::Key_Left);  // back to the parent level
    EXPECT_EQ(live.levels(), 1);
    live.key(Qt::Key_Return);  // Return on a submenu row opens it
    ASSERT_EQ(live.levels(), 2);
    live.key(Qt::Key_Down);
    live.key(Qt::Key_Enter);
    EXPECT_EQ(chosen, std::vector<std::string>{"40 ms"});
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(LiveMenu::open(), nullptr);
    QCoreApplication::processEvents();

    LiveMenu::show(menu, QPoint(10, 10), BarTheme::liveDark(), [&] { ++closed; }).key(Qt::Key_Escape);
    EXPECT_EQ(closed, 2);
    EXPECT_EQ(chosen.size(), 1u);
}

TEST_F(LiveMenuTest, ACheckThatKeepsTheMenuOpenFlipsAndRecountsTheBadge) {
    const Menu meter = moduleMenu(catalogue.drawerControls(ColorArea::meter), std::nullopt, {});
    LiveMenu& live = LiveMenu::show(meter, QPoint(0, 0), BarTheme::liveLight());
    EXPECT_EQ(live.rows(0)[0].badge, "7 of 7");
    live.key(Qt::Key_Down);
    live.key(Qt::Key_Right);
    ASSERT_EQ(live.levels(), 2);
    live.key(Qt::Key_Return);  // "Momentary" off
    EXPECT_EQ(LiveMenu::open(), &live);
    EXPECT_EQ(live.levels(), 2);
    EXPECT_FALSE(live.rows(1)[0].item->checked);
    EXPECT_EQ(live.rows(0)[0].badge, "6 of 7");
    EXPECT_FALSE(settings.meterPartChosen(MeterPart::momentary));
}

TEST_F(LiveMenuTest, AClickOutsideItsPanelsClosesIt) {
    int closed = 0;
    LiveMenu& live = LiveMenu::show({MenuItem::command("One", {})}, QPoint(50, 50), BarTheme::liveDark(), [&] { ++closed; });
    live.pressed(live.panel(0)->geometry().center());
    EXPECT_EQ(closed, 0);
    live.pressed(live.panel(0)->geometry().bottomRight() + QPoint(20, 20));
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(LiveMenu::open(), nullptr);
}

TEST_F(LiveMenuTest, ItDrawsInTheThemesMenuColours) {
    const Menu scope = moduleMenu(catalogue.drawerControls(ColorArea::scope), Rgb{0.96, 0.71, 0.56}, {});
    const BarTheme theme = BarTheme::liveDark();
    LiveMenu& live = LiveMenu::show(scope, QPoint(0, 0), theme);
    live.key(Qt::Key_Down);
    live.key(Qt::Key_Right);
    const QImage top = live.panel(0)->grab().toImage();
    const QImage sub = live.panel(1)->grab().toImage();
    if (const char* out = std::getenv("CRESTLINE_MENU_PNG")) {
        top.save(QString::fromUtf8(out) + "-top.png");
        sub.save(QString::fromUtf8(out) + "-sub.png");
    }
    const LiveMenuColours colours = LiveMenuColours::from(theme);
    // Background at the foot, the highlight on the first row.
    EXPECT_EQ(top.pixelColor(top.width() / 2, top.height() - 3).rgb(), colours.background.rgb());
    const QColor lit = top.pixelColor(top.width() - 3, static_cast<int>(LiveMenu::kPadding + 2));
    EXPECT_NE(lit.rgb(), colours.background.rgb());
}

}  // namespace
}  // namespace crestline
