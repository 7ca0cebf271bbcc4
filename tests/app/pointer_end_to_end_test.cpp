// The bar worked with a real pointer: xdotool drags a divider and title bars
// in the running application's window on a private desktop, and the
// settings file shows what the gestures stored.
#include <gtest/gtest.h>

#include "tests/app/desktop_session.h"
#include "tests/support/components.h"

namespace crestline {
namespace {

using namespace crestline::testing;
using testing::Json;

class PointerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string failure = desktop.start();
        CRESTLINE_REQUIRE_COMPONENT(desktop.missing().empty(), desktop.missing());
        ASSERT_TRUE(failure.empty()) << failure;
    }

    bool xdotool(const std::string& arguments) const {
        return std::system(("timeout 5 xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
    }
    // Points of the window's own area; the pointer rests a moment at each,
    // as a hand would, so the bar draws what it hovers.
    bool pointAt(double x, double y) const {
        const bool moved = xdotool("mousemove --window " + window + " " + std::to_string(static_cast<int>(x)) + " " +
                                   std::to_string(static_cast<int>(y)));
        std::this_thread::sleep_for(150ms);
        return moved;
    }
    bool dragFromTo(double x0, double y0, double x1, double y1) const {
        return pointAt(x0, y0) && xdotool("mousedown 1") && pointAt((x0 + x1) / 2.0, (y0 + y1) / 2.0) &&
               pointAt(x1, y1) && xdotool("mouseup 1");
    }
    // The stored setting once it satisfies `condition`, within a few seconds
    // (the store writes within a second).
    bool storedEventually(const std::function<bool(const Json&)>& condition) {
        return eventually(5.0, [&] { return condition(desktop.storedSettings()); });
    }

    DesktopSession desktop;
    std::string window;
};

TEST_F(PointerEndToEnd, DividerAndTitleBarDragsAreStored) {
    // The meter is left out so the row's geometry does not hang on font
    // metrics: the scope 400 points wide, the history taking the rest.
    desktop.writeSettings({{"firstLaunch", {{"date", 700000000.0}}},
                           {"floatingWidth", 1200},
                           {"floatingX", 100},
                           {"floatingY", 100},
                           {"showMeter", false},
                           {"window1", "scope"},
                           {"window2", "history"},
                           {"moduleWidth.scope", 400.0}});
    desktop.startApp();
    // Metering (no status text), so the module row is drawn.
    ASSERT_TRUE(desktop.waitForReport(15.0, [](const Json& r) {
        return r["state"] == "standalone" && r["meteredPid"] == 0 && r["bar"]["shown"] == true;
    })) << desktop.appLog();
    ASSERT_TRUE(eventually(5.0, [&] {
        const auto windows = desktop.windowsTitled("Crestline by KESTO");
        if (windows.size() == 1) window = windows.front();
        return !window.empty();
    }));
    std::this_thread::sleep_for(500ms);

    // The scope's divider lies 10 (margin) + 400 − 7 (half a gap) in; a
    // drag to 300 leaves the scope 297 wide (a few points less with panels).
    ASSERT_TRUE(dragFromTo(403, 20, 300, 20));
    ASSERT_TRUE(storedEventually([](const Json& s) {
        const double width = s.value("moduleWidth.scope", 0.0);
        return width >= 290.0 && width <= 300.0;
    })) << desktop.storedSettings().dump() << desktop.appLog();

    // The scope's title bar, dropped on the history's right half, puts it
    // after the history.
    ASSERT_TRUE(pointAt(40, 4));
    ASSERT_TRUE(dragFromTo(40, 4, 1100, 20));
    ASSERT_TRUE(storedEventually([](const Json& s) {
        return s.value("window1", "") == "history" && s.value("window2", "") == "scope";
    })) << desktop.storedSettings().dump();

    // Dropped well below the bar, the scope leaves it.
    const double scopeX = 1200 - 34 - 150;  // its left part, right of the history
    ASSERT_TRUE(pointAt(scopeX, 4));
    ASSERT_TRUE(dragFromTo(scopeX, 4, scopeX, 300));
    ASSERT_TRUE(storedEventually([](const Json& s) {
        return s.value("window1", "") == "history" && s.value("window2", "") == "off";
    })) << desktop.storedSettings().dump();
    EXPECT_TRUE(desktop.app().running());
}

}  // namespace
}  // namespace crestline
