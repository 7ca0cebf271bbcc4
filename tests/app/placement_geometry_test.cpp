// The arithmetic of bar placement on screens given by hand.
#include "app/placement_geometry.h"

#include <gtest/gtest.h>

namespace crestline {
namespace {

// 1440 x 900 with a 25-point top panel; a 1280 x 1024 screen to its right.
const DesktopScreen kMain{{0, 0, 1440, 900}, {0, 25, 1440, 875}};
const DesktopScreen kSide{{1440, 0, 1280, 1024}, {1440, 0, 1280, 1024}};
const DesktopScreens kBoth{kMain, kSide};

TEST(PlacementGeometry, HeightDragBounds) {
    struct Case {
        bool floating;
        double visible;
        std::optional<double> liveMinimum;
        double upper;
    } cases[] = {
        {false, 900, std::nullopt, 320},  // 1000 asked on a 900-point screen
        {false, 900, 700, 200},
        {false, 900, 120, 320},           // Live's room never goes below 300
        {false, 400, std::nullopt, 100},
        {false, 300, 700, 28},            // never below the bar's own minimum
        {true, 900, 700, 900},            // floating: the screen's height
    };
    for (const auto& c : cases) {
        const auto bounds = barHeightBounds(c.floating, c.visible, c.liveMinimum);
        EXPECT_EQ(bounds.lower, 28.0);
        EXPECT_EQ(bounds.upper, c.upper) << c.floating << " " << c.visible << " " << c.liveMinimum.value_or(0);
    }
}

TEST(PlacementGeometry, AFrameOffEveryScreenComesBackWith80PointsReachable) {
    struct Case {
        DesktopRect stored;
        DesktopRect shown;
    } cases[] = {
        {{5000, 300, 900, 36}, {1360, 300, 900, 36}},      // far right: 80 points at the right edge
        {{-3000, 300, 900, 36}, {-820, 300, 900, 36}},     // far left: 80 points at the left edge
        {{100, 4000, 900, 36}, {100, 864, 900, 36}},       // below: bottom on the visible bottom
        {{100, -500, 900, 36}, {100, 25, 900, 36}},        // above: under the top panel
        {{100, 100, 900, 36}, {100, 100, 900, 36}},        // on screen: unchanged
        {{2000, 500, 900, 36}, {2000, 500, 900, 36}},      // on the side screen: unchanged
    };
    for (const auto& c : cases) EXPECT_EQ(clamped(c.stored, kBoth), c.shown) << c.stored.x << "," << c.stored.y;
    const DesktopRect shown = clamped({5000, 300, 900, 36}, kBoth);
    EXPECT_EQ(kMain.visible.right() - shown.left(), 80.0);
}

TEST(PlacementGeometry, FloatingFrames) {
    // A width below the window's minimum shows at the minimum; no origin: centred at the top.
    EXPECT_EQ(floatingFrame({std::nullopt, 200, 36}, kBoth), (DesktopRect{560, 25, 320, 36}));
    EXPECT_EQ(floatingFrame({std::nullopt, 0, 0}, kBoth), (DesktopRect{270, 25, 900, 36}));
    EXPECT_EQ(floatingFrame({DesktopPoint{1500, 40}, 1000, 120}, kBoth), (DesktopRect{1500, 40, 1000, 120}));
    EXPECT_EQ(defaultFloatingOrigin(900, 36, {}), (DesktopPoint{0, 0}));

    // With a window manager's frame: the whole frame is placed, clamped and
    // kept under the top panel, the stored size is the window's own area.
    const FrameMargins framed{1, 22, 1, 4};
    EXPECT_EQ(floatingFrame({std::nullopt, 0, 0}, kBoth, framed), (DesktopRect{269, 25, 902, 62}));
    EXPECT_EQ(floatingFrame({DesktopPoint{1500, 40}, 1000, 120}, kBoth, framed), (DesktopRect{1500, 40, 1002, 146}));
    EXPECT_EQ(floatingFrame({DesktopPoint{100, 0}, 900, 36}, kBoth, framed), (DesktopRect{100, 25, 902, 62}));
    EXPECT_EQ(floatingFrame({DesktopPoint{100, -10}, 900, 36}, kBoth), (DesktopRect{100, 25, 900, 36}));
    EXPECT_EQ(floatingFrame({DesktopPoint{2000, -30}, 900, 36}, kBoth, framed), (DesktopRect{2000, 0, 902, 62}));
    EXPECT_EQ(floatingFrame({DesktopPoint{100, 5000}, 900, 36}, kBoth, framed), (DesktopRect{100, 838, 902, 62}));

    // The first switch to floating: at most 1100 wide, centred, 60 below the top.
    EXPECT_EQ(firstFloatingFrame(kMain, 36), (DesktopRect{170, 85, 1100, 36}));
    const DesktopScreen narrow{{0, 0, 1000, 700}, {0, 0, 1000, 700}};
    EXPECT_EQ(firstFloatingFrame(narrow, 50), (DesktopRect{40, 60, 920, 50}));
}

TEST(PlacementGeometry, EscapeScreenWhileLiveIsFullScreen) {
    const DesktopScreen third{{-1024, 0, 1024, 768}, {-1024, 0, 1024, 768}};
    const DesktopScreens three{kMain, kSide, third};
    EXPECT_EQ(escapeScreen(three, std::nullopt, 0), std::nullopt);  // not full screen
    EXPECT_EQ(escapeScreen(three, 0, 0), 1);                        // the first other screen
    EXPECT_EQ(escapeScreen(three, 0, 2), 2);                        // the bar's own when it is another
    EXPECT_EQ(escapeScreen(three, 1, 1), 0);
    EXPECT_EQ(escapeScreen({kMain}, 0, 0), std::nullopt);           // nowhere to go
}

TEST(PlacementGeometry, WhatLivesWindowsSay) {
    const LiveWindow main{{0, 61, 1440, 839}};
    LiveWindow small{{100, 100, 299, 600}};
    LiveWindow minimised{{0, 61, 1440, 839}, true};
    LiveWindow dialog{{0, 61, 1440, 839}, false, false, false};
    LiveWindow full{{1440, 0, 1280, 1024}, false, true};
    LiveWindow maximised{{0, 0, 1440, 900}};  // covers the screen, but is no full-screen window

    EXPECT_EQ(scanLiveWindows({main}, kBoth), (LiveScan{true, std::nullopt, 0}));
    EXPECT_EQ(scanLiveWindows({small, minimised, dialog}, kBoth), LiveScan{});
    EXPECT_EQ(scanLiveWindows({maximised}, kBoth), (LiveScan{true, std::nullopt, 0}));
    EXPECT_EQ(scanLiveWindows({small, full}, kBoth), (LiveScan{true, 1, 0}));

    EXPECT_EQ(liveWindowAt({small, main}, 200), main.frame);
    EXPECT_EQ(liveWindowAt({small, main, minimised}, 1500), std::nullopt);
}

TEST(PlacementGeometry, LivesTopEdgeAndTheBar) {
    const DesktopRect bar{0, 25, 1440, 36};  // lower edge at 61
    const DesktopRect live{0, 100, 1440, 800};
    struct Case {
        DesktopPoint at;
        std::optional<DesktopRect> live;
        bool grabs;
    } cases[] = {
        {{500, 96}, live, true},   {{500, 106}, live, true},  {{500, 95}, live, false},
        {{500, 107}, live, false}, {{1500, 100}, live, false}, {{500, 50}, live, false},
        {{500, 66}, std::nullopt, true}, {{500, 68}, std::nullopt, false},
    };
    for (const auto& c : cases) EXPECT_EQ(grabsLiveTopEdge(c.at, bar, c.live), c.grabs) << c.at.x << "," << c.at.y;

    EXPECT_EQ(heightMeetingLive(bar.top(), {0, 140.4, 1440, 760}), 115.0);
    EXPECT_TRUE(liveReachesBottom({0, 140, 1440, 763}, kMain.visible));
    EXPECT_FALSE(liveReachesBottom({0, 140, 1440, 700}, kMain.visible));
}

TEST(PlacementGeometry, WhenTheBarIsShown) {
    // Live running, standalone, floating, following Live, Live on screen, Live full screen, escape screen.
    const std::pair<VisibilityInputs, bool> cases[] = {
        {{true, false, false, true, true, false, false}, true},
        {{true, false, false, true, false, false, false}, false},  // minimised or hidden
        {{true, false, false, false, false, false, false}, true},  // pinned, not following Live
        {{true, false, true, true, false, false, false}, true},
        {{false, false, false, true, true, false, false}, false},
        {{false, true, true, true, false, false, false}, true},
        {{true, false, false, true, true, true, false}, false},
        {{true, false, false, true, true, true, true}, true},
        {{true, false, false, false, true, true, false}, false},
    };
    for (const auto& [in, shown] : cases) {
        EXPECT_EQ(barShown(in), shown) << in.liveRunning << in.standalone << in.floating << in.followAbleton
                                       << in.liveOnScreen << in.liveFullScreen << in.escapeScreenExists;
    }
}

}  // namespace
}  // namespace crestline
