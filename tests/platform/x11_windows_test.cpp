// The free part of each monitor under other programs' struts.
#include "platform/x11_windows.h"

#include <gtest/gtest.h>

namespace crestline {
namespace {

TEST(X11Windows, StrutsShrinkOnlyTheMonitorsTheyTouch) {
    // Two monitors side by side on a 2304 x 800 root; the right one is shorter.
    const RootRect left{0, 0, 1280, 800};
    const RootRect right{1280, 0, 1024, 768};
    const StrutPartial topPanelOnLeft{0, 0, 25, 0, 0, 0, 0, 0, 0, 1279, 0, 0};
    const StrutPartial bottomPanelAcross{0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 2303};
    const StrutPartial leftDock{50, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0};
    const StrutPartial rightDock{0, 30, 0, 0, 0, 0, 0, 799, 0, 0, 0, 0};
    struct Case {
        std::vector<StrutPartial> struts;
        RootRect left, right;
    } cases[] = {
        {{}, left, right},
        {{topPanelOnLeft}, {0, 25, 1280, 775}, right},
        {{topPanelOnLeft, bottomPanelAcross}, {0, 25, 1280, 735}, {1280, 0, 1024, 760}},
        {{leftDock, rightDock}, {50, 0, 1230, 800}, {1280, 0, 994, 768}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(visibleArea(left, 2304, 800, c.struts), c.left) << c.struts.size();
        EXPECT_EQ(visibleArea(right, 2304, 800, c.struts), c.right) << c.struts.size();
    }
}

TEST(X11Windows, WithoutADisplayEveryCallDoesNothing) {
    X11Windows x11(":9999");
    EXPECT_FALSE(x11.available());
    EXPECT_FALSE(x11.pointer());
    EXPECT_FALSE(x11.activate(1));
    EXPECT_FALSE(x11.sendKey(38));
    EXPECT_TRUE(x11.struts(0).empty());
    x11.makeDock(1, 36, 0, 100);
}

}  // namespace
}  // namespace crestline
