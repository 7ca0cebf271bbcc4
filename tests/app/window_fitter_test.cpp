// Fitting Live's main window under the bar, against the scriptable
// accessibility layer.
#include "app/window_fitter.h"

#include <gtest/gtest.h>

#include "platform/fake_accessibility.h"

namespace crestline {
namespace {

constexpr int kLive = 321;

// 1440 x 900 with a 25-point top panel; a second 1280 x 1024 screen to the right.
const DesktopScreen kMain{{0, 0, 1440, 900}, {0, 25, 1440, 875}};
const DesktopScreen kSide{{1440, 0, 1280, 1024}, {1440, 0, 1280, 1024}};

// Live's main window as the fitter looks for it, at `frame`.
std::shared_ptr<FakeAXElement> liveWindow(FakeAccessibility& ax, const DesktopRect& frame, bool main = true) {
    auto window = ax.addWindow(kLive, "Set - Ableton Live");
    window->set("AXSubrole", std::string("AXStandardWindow"));
    window->set("AXMain", main);
    window->set("AXMinimized", false);
    window->set("AXFullScreen", false);
    window->set("AXPosition", AXPoint{frame.x, frame.y});
    window->set("AXSize", AXSize{frame.width, frame.height});
    window->allowWrites("AXPosition");
    window->allowWrites("AXSize");
    return window;
}

class WindowFitterTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeAXElement> addWindow(const DesktopRect& frame, bool main = true) {
        return liveWindow(ax, frame, main);
    }

    WindowFitter::Result fit(double barHeight, bool fill, DesktopScreens screens = {kMain}) {
        return WindowFitter::fit(ax, {kLive, barHeight, fill, std::move(screens), 1.0}, memory);
    }

    static DesktopRect frameOf(FakeAXElement& window) { return *WindowFitter::windowFrame(window); }

    FakeAccessibility ax;
    FitMemory memory;
};

TEST(WindowFitterMatches, AllowsAFewPointsShortButNeverTaller) {
    const DesktopRect target{0, 61, 1440, 814};
    struct Case {
        double dx, dy, dw, dh;
        bool matches;
    } cases[] = {
        {0, 0, 0, 0, true},     {0, 0, 0, -3, true},   {0, 0, 0, -4, true},  {0, 0, 0, -5, false},
        {0, 0, 0, 0.5, true},   {0, 0, 0, 1, false},   {0.9, 0, 0, 0, true}, {1, 0, 0, 0, false},
        {0, -0.9, 0, 0, true},  {0, 1, 0, 0, false},   {0, 0, -1, 0, false},
    };
    for (const auto& c : cases) {
        const DesktopRect actual{target.x + c.dx, target.y + c.dy, target.width + c.dw, target.height + c.dh};
        EXPECT_EQ(WindowFitter::matches(actual, target), c.matches) << c.dx << " " << c.dy << " " << c.dw << " " << c.dh;
    }
}

TEST_F(WindowFitterTest, GivesTheMainWindowTheRoomUnderTheBarSizeFirst) {
    auto window = addWindow({200, 300, 800, 500});
    const auto result = fit(36, true);
    EXPECT_EQ(result, (WindowFitter::Result{0, true, std::nullopt}));
    EXPECT_EQ(frameOf(*window), (DesktopRect{0, 61, 1440, 839}));
    const auto writes = window->writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].first, "AXSize");
    EXPECT_EQ(writes[1].first, "AXPosition");
    EXPECT_EQ(writes[2].first, "AXSize");
    EXPECT_EQ(ax.app(kLive)->messagingTimeout(), WindowFitter::kMessagingTimeoutSeconds);

    // Already in place: nothing is written again.
    EXPECT_TRUE(fit(36, true).matched);
    EXPECT_EQ(window->writes().size(), 3u);
}

TEST_F(WindowFitterTest, LeavesWindowsThatAreNotLivesMainWindowAlone) {
    struct Case {
        const char* what;
        std::function<void(FakeAXElement&)> make;
    } cases[] = {
        {"minimised", [](FakeAXElement& w) { w.set("AXMinimized", true); }},
        {"full screen", [](FakeAXElement& w) { w.set("AXFullScreen", true); }},
        {"dialog", [](FakeAXElement& w) { w.set("AXSubrole", std::string("AXDialog")); }},
        {"not main", [](FakeAXElement& w) { w.set("AXMain", false); }},
        {"untitled", [](FakeAXElement& w) { w.set("AXTitle", std::string()); }},
    };
    for (const auto& c : cases) {
        FakeAccessibility fresh;
        auto window = liveWindow(fresh, {100, 100, 1000, 700});
        c.make(*window);
        FitMemory none;
        const auto result = WindowFitter::fit(fresh, {kLive, 36, true, {kMain}, 1.0}, none);
        EXPECT_FALSE(result.matched) << c.what;
        EXPECT_TRUE(window->writes().empty()) << c.what;
    }
    // A wide standard window that is not main still tells Live's screen.
    auto wide = addWindow({1500, 0, 900, 600}, false);
    EXPECT_EQ(fit(36, true, {kMain, kSide}).screen, 1);
    EXPECT_TRUE(wide->writes().empty());
}

TEST_F(WindowFitterTest, WithoutFillOnlyAWindowReachingIntoTheBarMoves) {
    auto below = addWindow({100, 200, 900, 500});
    EXPECT_FALSE(fit(36, false).matched);
    EXPECT_TRUE(below->writes().empty());

    below->set("AXPosition", AXPoint{100, 40});  // under the bar's lower edge at 61
    fit(36, false);
    EXPECT_EQ(frameOf(*below), (DesktopRect{0, 61, 1440, 839}));
}

TEST_F(WindowFitterTest, ReportsTheHeightLiveKeeps) {
    // 675 points under a 200-point bar; Live will not go below 700.
    auto window = addWindow({100, 100, 900, 800});
    window->setMinimumSize({500, 700});
    const auto refused = fit(200, true);
    EXPECT_FALSE(refused.matched);
    EXPECT_EQ(refused.refusedHeight, 700.0);

    // 3 points taller than asked is not a refusal.
    memory = {};
    window->setMinimumSize({500, 678});
    window->set("AXSize", AXSize{900, 500});
    EXPECT_FALSE(fit(200, true).refusedHeight);
    EXPECT_EQ(frameOf(*window).height, 678.0);
}

TEST_F(WindowFitterTest, BelievesARefusalOnlyFromAStableReadBack) {
    auto window = addWindow({100, 100, 900, 500});
    window->setMinimumSize({500, 700});
    window->deferWrites(true);  // the window manager moves it later
    EXPECT_EQ(fit(200, true), (WindowFitter::Result{0, false, std::nullopt}));
    window->settle();
    // The first read of the moved window could still be a move under way.
    EXPECT_FALSE(fit(200, true).refusedHeight);
    window->settle();
    EXPECT_EQ(fit(200, true).refusedHeight, 700.0);

    // A window at least as tall as the visible frame is no refusal.
    FitMemory fresh;
    window->setMinimumSize({500, 875});
    window->settle();
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_FALSE(WindowFitter::fit(ax, {kLive, 200, true, {kMain}, 1.0}, fresh).refusedHeight);
        window->settle();
    }
}

TEST_F(WindowFitterTest, TriesAShorterFrameFirstWhenTheFullOneDoesNotTake) {
    auto window = addWindow({100, 100, 900, 500});
    window->setMinimumSize({500, 900});  // never fits
    std::optional<DesktopRect> readBack;
    EXPECT_FALSE(WindowFitter::place(*window, {0, 61, 1440, 839}, frameOf(*window), 1.0, readBack));
    std::vector<double> heights;
    for (const auto& [attribute, value] : window->writes()) {
        if (attribute == "AXSize") heights.push_back(std::get<AXSize>(value).height);
    }
    EXPECT_EQ(heights, (std::vector<double>{839, 839, 689, 689, 839, 839}));
    EXPECT_EQ(readBack, (DesktopRect{0, 61, 1440, 900}));
}

TEST_F(WindowFitterTest, AnUnansweringOrUntrustedLiveChangesNothing) {
    auto window = addWindow({100, 100, 900, 500});
    ax.setResponseDelay(kLive, 1.0);
    EXPECT_EQ(fit(36, true), WindowFitter::Result{});
    EXPECT_FALSE(WindowFitter::hasFullScreen(ax, kLive));
    ax.setResponseDelay(kLive, 0.0);
    ax.setTrusted(false);
    EXPECT_EQ(fit(36, true), WindowFitter::Result{});
    EXPECT_FALSE(WindowFitter::hasFullScreen(ax, kLive));
    EXPECT_TRUE(window->writes().empty());
    ax.setTrusted(true);
    EXPECT_EQ(WindowFitter::hasFullScreen(ax, kLive), false);
    window->set("AXFullScreen", true);
    EXPECT_EQ(WindowFitter::hasFullScreen(ax, kLive), true);
}

TEST(WindowFitterScreen, TakesTheScreenHoldingMostOfTheWindow) {
    EXPECT_EQ(WindowFitter::screen({1000, 0, 800, 600}, {kMain, kSide}), 0);
    EXPECT_EQ(WindowFitter::screen({1300, 0, 800, 600}, {kMain, kSide}), 1);
    EXPECT_EQ(WindowFitter::screen({5000, 0, 800, 600}, {kMain, kSide}), std::nullopt);
}

}  // namespace
}  // namespace crestline
