// Bar placement over a desktop and a Live given by hand: the windows are
// real Qt widgets (offscreen), the screens, the pointer and Live's windows
// come from fakes.
#include "app/bar_placement.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <filesystem>

#include "bar/bar_view.h"
#include "platform/fake_accessibility.h"
#include "platform/log.h"
#include "settings/settings.h"

namespace crestline {

void PrintTo(const DesktopRect& r, std::ostream* out) {
    *out << r.x << "," << r.y << " " << r.width << "x" << r.height;
}

namespace {

constexpr int kLive = 4321;
const DesktopScreen kMain{{0, 0, 1440, 900}, {0, 25, 1440, 875}};
const DesktopScreen kSide{{1440, 0, 1280, 1024}, {1440, 0, 1280, 1024}};

class FakeDesktop final : public PlacementDesktop {
public:
    bool hasX11() const override { return x11; }
    DesktopScreens screens() override { return list; }
    std::optional<DesktopPointer> pointer() override { return pointerNow; }
    void pinAsDock(QWidget&, const DesktopRect& frame, bool above) override { docks.emplace_back(frame, above); }
    bool activate(int pid) override {
        activated.push_back(pid);
        return true;
    }
    bool forwardKey(int pid, const KeyPress& key) override {
        forwarded.emplace_back(pid, key.key);
        return true;
    }

    bool x11 = true;
    DesktopScreens list{kMain};
    std::optional<DesktopPointer> pointerNow = DesktopPointer{{700, 500}, false};
    std::vector<std::pair<DesktopRect, bool>> docks;
    std::vector<int> activated;
    std::vector<std::pair<int, int>> forwarded;
};

class FakeHost final : public PlacementHost {
public:
    bool standalone() const override { return alone; }
    std::optional<int> livePid() const override { return pid; }
    void selectionChanged(std::optional<ColorArea> module) override { selections.push_back(module); }
    bool menuShortcut(const KeyPress& key) override {
        menuKeys.push_back(key.key);
        return menuTakes;
    }

    bool alone = false;
    std::optional<int> pid = kLive;
    bool menuTakes = false;
    std::vector<std::optional<ColorArea>> selections;
    std::vector<int> menuKeys;
};

QApplication& application() {
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);  // until exit
    return *app;
}

// Where the window's frame begins (decorations included) and the size of
// its own area: what the floating frame stores.
DesktopRect frameOf(const QWidget& w) {
    const QRect g = w.geometry();
    const QRect f = w.frameGeometry();
    return {double(f.x()), double(f.y()), double(g.width()), double(g.height())};
}

class BarPlacementTest : public ::testing::Test {
protected:
    BarPlacementTest() {
        window = ax.addWindow(kLive, "Set - Ableton Live 12");
        window->set("AXSubrole", std::string("AXStandardWindow"));
        window->set("AXMain", true);
        window->set("AXMinimized", false);
        window->set("AXFullScreen", false);
        window->allowWrites("AXPosition");
        window->allowWrites("AXSize");
        setLiveFrame({100, 100, 1000, 700});
    }

    void setLiveFrame(const DesktopRect& r) {
        window->set("AXPosition", AXPoint{r.x, r.y});
        window->set("AXSize", AXSize{r.width, r.height});
    }
    DesktopRect liveFrame() { return *WindowFitter::windowFrame(*window); }

    // What the controller does at start-up and on each tick; the first
    // fit finds Live's screen and asks for one more full fit.
    void start() {
        placement.applyBarMode();
        placement.layoutBar();
        placement.requestFill();
        tick();
        tick();
    }
    void tick() {
        placement.refreshFullScreen();
        placement.fitLive();
    }

    struct ApplicationFirst {
        ApplicationFirst() { application(); }
    } applicationFirst;  // before any widget
    // A settings file of each test's own.
    std::filesystem::path folder = std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) /
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
    FakeClock clock;
    Settings settings{folder / "settings.json", clock, Settings::Writing::manual};
    BarView view{settings, nullptr, clock};
    FakeHost host;
    FakeDesktop desktop;
    FakeAccessibility ax;
    std::shared_ptr<FakeAXElement> window;
    BarPlacement placement{settings, view, host, desktop, ax, clock};
};

TEST_F(BarPlacementTest, PinnedBarSpansTheTopWithLiveFittedBelow) {
    start();
    EXPECT_FALSE(placement.floating());
    EXPECT_TRUE(placement.barShown());
    EXPECT_TRUE(placement.pinnedWindow().isVisible());
    EXPECT_FALSE(placement.floatingWindow().isVisible());
    EXPECT_EQ(frameOf(placement.pinnedWindow()), (DesktopRect{0, 25, 1440, 36}));
    ASSERT_FALSE(desktop.docks.empty());
    EXPECT_EQ(desktop.docks.back(), std::pair(DesktopRect{0, 25, 1440, 36}, false));
    EXPECT_EQ(liveFrame(), (DesktopRect{0, 61, 1440, 839}));
    EXPECT_FALSE(placement.state().fillPending);
    EXPECT_EQ(placement.state().barScreen, kMain.frame);
}

TEST_F(BarPlacementTest, LiveRefusingTheRoomShrinksTheBarAndRemembersLivesMinimum) {
    settings.setBarHeight(200);
    window->setMinimumSize({500, 700});  // 675 points are left under a 200-point bar
    start();
    EXPECT_EQ(settings.liveMinimumHeight(), 700.0);
    EXPECT_EQ(settings.barHeight(), 175.0);
    EXPECT_EQ(frameOf(placement.pinnedWindow()).height, 175.0);
    EXPECT_EQ(liveFrame(), (DesktopRect{0, 200, 1440, 700}));

    // Dragging the bar taller afterwards stops at what Live leaves.
    placement.barHeightDragged(1000, true);
    EXPECT_EQ(settings.barHeight(), 175.0);
    // The stored minimum only grows.
    window->setMinimumSize({500, 300});
    placement.barHeightDragged(100, true);
    EXPECT_EQ(settings.liveMinimumHeight(), 700.0);
    EXPECT_EQ(liveFrame(), (DesktopRect{0, 125, 1440, 775}));
}

TEST_F(BarPlacementTest, TheBarComesAndGoesWithLivesWindow) {
    start();
    window->set("AXMinimized", true);
    tick();
    EXPECT_FALSE(placement.barShown());
    EXPECT_FALSE(placement.pinnedWindow().isVisible());
    window->set("AXMinimized", false);
    tick();
    EXPECT_TRUE(placement.pinnedWindow().isVisible());

    // With "followAbleton" off it stays while Live is hidden.
    settings.setFollowAbleton(false);
    window->set("AXMinimized", true);
    tick();
    EXPECT_TRUE(placement.pinnedWindow().isVisible());

    // Live gone: hidden, and a selection is given up.
    settings.setFollowAbleton(true);
    view.pointer.selectedArea = ColorArea::scope;
    host.pid.reset();
    tick();
    EXPECT_FALSE(placement.pinnedWindow().isVisible());
    EXPECT_FALSE(view.pointer.selectedArea);
    EXPECT_EQ(host.selections, (std::vector<std::optional<ColorArea>>{std::nullopt}));
}

TEST_F(BarPlacementTest, LiveFullScreenSendsTheBarToAnotherScreenOrHidesIt) {
    desktop.list = {kMain, kSide};
    start();
    window->set("AXFullScreen", true);
    setLiveFrame(kMain.frame);
    tick();
    EXPECT_TRUE(placement.pinnedWindow().isVisible());
    EXPECT_EQ(frameOf(placement.pinnedWindow()), (DesktopRect{1440, 0, 1280, 36}));
    EXPECT_EQ(desktop.docks.back().second, true);  // above Live's full-screen window
    EXPECT_EQ(liveFrame(), kMain.frame);           // a full-screen window is never fitted

    window->set("AXFullScreen", false);
    setLiveFrame({100, 100, 1000, 700});
    tick();
    EXPECT_EQ(frameOf(placement.pinnedWindow()), (DesktopRect{0, 25, 1440, 36}));
    EXPECT_EQ(desktop.docks.back().second, false);

    desktop.list = {kMain};
    placement.screensChanged();
    window->set("AXFullScreen", true);
    setLiveFrame(kMain.frame);
    tick();
    EXPECT_FALSE(placement.pinnedWindow().isVisible());
}

TEST_F(BarPlacementTest, TheBarFollowsLiveToAnotherScreen) {
    desktop.list = {kMain, kSide};
    start();
    setLiveFrame({1600, 200, 900, 600});
    tick();  // notices the screen, fits on the next tick
    tick();
    EXPECT_EQ(placement.state().barScreen, kSide.frame);
    EXPECT_EQ(frameOf(placement.pinnedWindow()), (DesktopRect{1440, 0, 1280, 36}));
    EXPECT_EQ(liveFrame(), (DesktopRect{1440, 36, 1280, 988}));
}

TEST_F(BarPlacementTest, FollowsLivesTopEdgeOrPullsLiveBack) {
    start();
    // The user dragged Live's top edge down; its bottom stays on the visible bottom.
    desktop.pointerNow = DesktopPointer{{700, 61}, false};
    placement.pollLiveEdge();
    desktop.pointerNow = DesktopPointer{{700, 62}, true};
    placement.pollLiveEdge();
    EXPECT_TRUE(placement.state().liveEdgeHeld);
    setLiveFrame({0, 141, 1440, 759});
    desktop.pointerNow = DesktopPointer{{700, 141}, false};
    placement.pollLiveEdge();
    EXPECT_FALSE(placement.state().liveEdgeHeld);
    placement.followLiveTopCheck();
    EXPECT_EQ(settings.barHeight(), 116.0);
    EXPECT_EQ(frameOf(placement.pinnedWindow()).height, 116.0);

    // Dragged past what a pinned bar may take: the bar stops at 320 and Live comes back under it.
    setLiveFrame({0, 500, 1440, 400});
    tick();
    EXPECT_EQ(settings.barHeight(), 320.0);
    EXPECT_EQ(liveFrame(), (DesktopRect{0, 345, 1440, 555}));

    // Moved away from the bottom: the next fit puts it back under the bar.
    setLiveFrame({200, 400, 800, 300});
    tick();
    EXPECT_EQ(liveFrame(), (DesktopRect{0, 345, 1440, 555}));
    EXPECT_EQ(settings.barHeight(), 320.0);
}

TEST_F(BarPlacementTest, KeysGoToLiveExceptMenuShortcutsAndDeletingAModule) {
    start();
    EXPECT_TRUE(placement.handleKey({Qt::Key_Space}));
    host.menuTakes = true;
    EXPECT_TRUE(placement.handleKey({Qt::Key_Q, true}));
    host.menuTakes = false;
    EXPECT_TRUE(placement.handleKey({Qt::Key_Z, true}));  // not the menu's: Live's undo
    view.pointer.selectedArea = ColorArea::spectrum;
    EXPECT_FALSE(placement.handleKey({Qt::Key_Backspace}));
    EXPECT_FALSE(placement.handleKey({Qt::Key_Delete}));
    EXPECT_EQ(desktop.forwarded, (std::vector<std::pair<int, int>>{{kLive, Qt::Key_Space}, {kLive, Qt::Key_Z}}));
    EXPECT_EQ(host.menuKeys, (std::vector<int>{Qt::Key_Q, Qt::Key_Z}));

    // Floating, keys stay with the window.
    placement.setDetached(true);
    EXPECT_FALSE(placement.handleKey({Qt::Key_Space}));
}

TEST_F(BarPlacementTest, FloatingWindowFrames) {
    start();
    placement.setDetached(true);
    EXPECT_TRUE(placement.floatingWindow().isVisible());
    EXPECT_FALSE(placement.pinnedWindow().isVisible());
    EXPECT_EQ(placement.floatingWindow().windowTitle(), QStringLiteral("Crestline by KESTO"));
    EXPECT_EQ(frameOf(placement.floatingWindow()), (DesktopRect{170, 85, 1100, 36}));
    EXPECT_EQ(settings.floatingOrigin(), (Point{170, 85}));

    // A height drag keeps the top edge.
    placement.barHeightDragged(120, true);
    EXPECT_EQ(frameOf(placement.floatingWindow()), (DesktopRect{170, 85, 1100, 120}));

    // A frame stored off every screen comes back with 80 points to grab,
    // its decorations (2 points each side offscreen) on screen too.
    settings.setFloatingOrigin(Point{9000, 9000});
    placement.layoutBar();
    EXPECT_EQ(frameOf(placement.floatingWindow()), (DesktopRect{1360, 776, 1100, 120}));

    // Back to pinned: Live is fitted at once.
    setLiveFrame({300, 300, 600, 400});
    placement.setDetached(false);
    EXPECT_TRUE(placement.pinnedWindow().isVisible());
    EXPECT_EQ(liveFrame(), (DesktopRect{0, 61, 1440, 839}));
}

TEST_F(BarPlacementTest, WithoutX11TheBarFloatsAndLeavesLiveAlone) {
    LogCapture lines;
    desktop.x11 = false;
    BarPlacement alone(settings, view, host, desktop, ax, clock);
    alone.applyBarMode();
    alone.layoutBar();
    alone.refreshFullScreen();
    alone.fitLive();
    EXPECT_TRUE(alone.floating());
    EXPECT_TRUE(alone.floatingWindow().isVisible());
    EXPECT_TRUE(window->writes().empty());
    EXPECT_EQ(lines.count("no X11 display"), 1);
}

}  // namespace
}  // namespace crestline
