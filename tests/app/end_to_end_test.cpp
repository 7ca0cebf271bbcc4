// Crestline as a user meets it, on a private desktop (Xvfb, openbox,
// PulseAudio) with a stand-in for Live: what the application does is read
// from its `--report` lines, its questions are answered with the keyboard,
// and what it stores is read from its settings file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "tests/app/desktop_session.h"
#include "tests/support/components.h"

namespace crestline {
namespace {

using namespace crestline::testing;
using testing::Json;

bool isNumber(const Json& value) { return value.is_number(); }
// A member's number, NaN when it is absent or not a number.
double number(const Json& object, const char* key) {
    return object.is_object() && object.contains(key) && object[key].is_number() ? object[key].get<double>() : NAN;
}

// A UDP port nobody listens on now.
std::uint16_t freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string failure = desktop.start();
        CRESTLINE_REQUIRE_COMPONENT(desktop.missing().empty(), desktop.missing());
        ASSERT_TRUE(failure.empty()) << failure;
    }

    // The stored settings of a pinned bar with Live's window fitted.
    void pinned(Json extra = Json::object()) {
        Json values = {{"barMode", "pinned"}, {"firstLaunch", {{"date", 700000000.0}}}};
        values.update(extra);
        desktop.writeSettings(values);
    }

    bool xdotool(const std::string& arguments) const {
        return std::system(("timeout 5 xdotool " + arguments + " >/dev/null 2>&1").c_str()) == 0;
    }
    // Points of `window`'s own area; the pointer rests a moment at each, as a
    // hand would, so the bar draws what it hovers.
    bool pointAt(const std::string& window, double x, double y) const {
        const bool moved = xdotool("mousemove --window " + window + " " + std::to_string(static_cast<int>(x)) + " " +
                                   std::to_string(static_cast<int>(y)));
        std::this_thread::sleep_for(150ms);
        return moved;
    }
    bool drag(const std::string& window, double x0, double y0, double x1, double y1) const {
        return pointAt(window, x0, y0) && xdotool("mousedown 1") && pointAt(window, (x0 + x1) / 2.0, (y0 + y1) / 2.0) &&
               pointAt(window, x1, y1) && xdotool("mouseup 1");
    }
    // Once the stored settings satisfy `condition` (the store writes within a second).
    bool storedEventually(const std::function<bool(const Json&)>& condition) {
        return eventually(5.0, [&] { return condition(desktop.storedSettings()); });
    }

    DesktopSession desktop;
};

// Without Live: floating, all sound metered, dividers and title bars
// dragged with a real pointer, the helper's transport followed, metering
// back within four seconds of the sound server's return, and a clean end on
// SIGTERM.
TEST_F(EndToEnd, OnItsOwnItFloatsMetersAllSoundTakesDragsFollowsTheHelperAndOutlivesTheSoundServer) {
    const std::uint16_t port = freeUdpPort();
    ASSERT_NE(port, 0);
    setenv("CRESTLINE_HELPER_PORT", std::to_string(port).c_str(), 1);
    // The meter is left out so the row's geometry does not hang on font
    // metrics: the scope 400 points wide, the history taking the rest.
    desktop.writeSettings({{"firstLaunch", {{"date", 700000000.0}}}, {"floatingWidth", 1200}, {"floatingX", 100},
                           {"floatingY", 100}, {"showMeter", false}, {"window1", "scope"}, {"window2", "history"},
                           {"moduleWidth.scope", 400.0}});
    desktop.startApp();
    desktop.play(-20.0, 1000.0, 20.0);
    auto report = desktop.waitForReport(15.0, [](const Json& r) {
        return r["state"] == "standalone" && r["meteredPid"] == 0 && isNumber(r["meter"]["momentary"]) &&
               r["meter"]["momentary"].get<double>() > -25.0;
    });
    unsetenv("CRESTLINE_HELPER_PORT");
    ASSERT_TRUE(report) << desktop.appLog();
    EXPECT_EQ((*report)["mode"], "floating");
    EXPECT_TRUE((*report)["livePid"].is_null());
    EXPECT_TRUE((*report)["transport"].is_null());
    EXPECT_EQ((*report)["bar"]["shown"], true);
    const auto windows = desktop.windowsTitled("Crestline by KESTO");
    ASSERT_EQ(windows.size(), 1u);
    const std::string window = windows.front();
    std::this_thread::sleep_for(500ms);

    // The scope's divider lies 10 (margin) + 400 − 7 (half a gap) in; a
    // drag to 300 leaves the scope 297 wide (a few points less with panels).
    ASSERT_TRUE(drag(window, 403, 20, 300, 20));
    ASSERT_TRUE(storedEventually([](const Json& s) {
        const double width = s.value("moduleWidth.scope", 0.0);
        return width >= 290.0 && width <= 300.0;
    })) << desktop.storedSettings().dump() << desktop.appLog();
    // The scope's title bar, dropped on the history's right half, puts it
    // after the history; dropped well below the bar, the scope leaves it.
    ASSERT_TRUE(pointAt(window, 40, 4));
    ASSERT_TRUE(drag(window, 40, 4, 1100, 20));
    ASSERT_TRUE(storedEventually([](const Json& s) {
        return s.value("window1", "") == "history" && s.value("window2", "") == "scope";
    })) << desktop.storedSettings().dump();
    const double scopeX = 1200 - 34 - 150;  // its left part, right of the history
    ASSERT_TRUE(pointAt(window, scopeX, 4));
    ASSERT_TRUE(drag(window, scopeX, 4, scopeX, 300));
    ASSERT_TRUE(storedEventually([](const Json& s) {
        return s.value("window1", "") == "history" && s.value("window2", "") == "off";
    })) << desktop.storedSettings().dump();

    Child simulate({DesktopSession::binary("crestline-live"), "simulate", "--port", std::to_string(port), "--bpm", "120",
                    "--seconds", "8", "--locators", "0:Intro,32:Drop"},
                   desktop.folder() / "simulate.log");
    EXPECT_TRUE(desktop.waitForReport(8.0, [](const Json& r) {
        return r["transport"].is_object() && r["transport"]["source"] == "helper" &&
               r["transport"]["playing"] == true && std::abs(number(r["transport"], "bpm") - 120.0) < 1.0;
    })) << desktop.appLog();

    desktop.killSound();
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["meteredPid"].is_null(); }))
        << desktop.appLog();
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(desktop.startSound(), "");
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(desktop.waitForReport(8.0, [](const Json& r) { return r["meteredPid"] == 0; })) << desktop.appLog();
    EXPECT_LE(std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count(), 4.0);
    // And it hears what plays now.
    desktop.play(-20.0, 1000.0, 10.0);
    EXPECT_TRUE(desktop.waitForReport(10.0, [](const Json& r) {
        return isNumber(r["meter"]["momentary"]) && r["meter"]["momentary"].get<double>() > -25.0;
    })) << desktop.appLog();

    // SIGTERM ends it cleanly, its window with it.
    desktop.app().signal(SIGTERM);
    const auto status = desktop.app().waitForExit(10.0);
    ASSERT_TRUE(status) << "crestline did not quit";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_TRUE(desktop.windowsTitled("Crestline by KESTO").empty());
}

TEST_F(EndToEnd, LiveStartingAsksOnceTheKeyboardAnswerPinsTheBarAndOnlyLiveIsMetered) {
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["state"] == "standalone"; }))
        << desktop.appLog();
    const pid_t live = desktop.startLive({"--level", "-23", "--frequency", "1000"});
    std::vector<std::string> questions;
    ASSERT_TRUE(eventually(10.0, [&] {
        questions = desktop.windowsTitled("Crestline");
        return !questions.empty();
    })) << desktop.appLog();
    // Later ticks while it waits raise no second question.
    std::this_thread::sleep_for(2s);
    questions = desktop.windowsTitled("Crestline");
    ASSERT_EQ(questions.size(), 1u);

    ASSERT_TRUE(desktop.pressKey(questions.front(), "Return"));
    auto report = desktop.waitForReport(10.0, [&](const Json& r) {
        return r["state"] == "attached" && r["mode"] == "pinned" && r["meteredPid"] == live;
    });
    ASSERT_TRUE(report) << desktop.appLog();
    EXPECT_TRUE(eventually(5.0, [&] {
        const auto shown = desktop.windowsTitled("Crestline");
        return std::find(shown.begin(), shown.end(), questions.front()) == shown.end();
    }));
    ASSERT_TRUE(eventually(5.0, [&] { return desktop.storedSettings().value("barMode", "") == "pinned"; }));

    // Pinned, the bar spans the top with Live fitted below and meters only
    // Live's tone, though another program plays louder.
    desktop.play(-10.0, 440.0, 30.0);
    std::this_thread::sleep_for(3500ms);  // the louder tone fills a whole short-term window
    report = desktop.waitForReport(20.0, [&](const Json& r) {
        const Json& liveWindow = r["liveWindow"];
        return r["state"] == "attached" && r["meteredPid"] == live && r["bar"]["shown"] == true &&
               std::abs(number(liveWindow, "y") - number(r["bar"], "height")) <= 1.0;
    });
    ASSERT_TRUE(report) << desktop.appLog();
    EXPECT_EQ((*report)["bar"]["x"], 0);
    EXPECT_EQ((*report)["bar"]["y"], 0);
    EXPECT_EQ((*report)["bar"]["width"], DesktopSession::kWidth);
    EXPECT_EQ((*report)["bar"]["height"], 36);
    EXPECT_EQ((*report)["liveWindow"]["x"], 0);
    EXPECT_EQ((*report)["liveWindow"]["width"], DesktopSession::kWidth);

    // Short-term loudness over a full window of Live's tone alone.
    const auto metered = desktop.waitForReport(15.0, [](const Json& r) {
        return std::abs(number(r["meter"], "shortTerm") + 23.0) <= 0.3 &&
               std::abs(number(r["meter"], "integrated") + 23.0) <= 0.3;
    });
    ASSERT_TRUE(metered) << desktop.appLog();
}

TEST_F(EndToEnd, TheBarHidesWithLiveMinimisedAndQuitsThreeSecondsAfterLiveUnlessItComesBack) {
    pinned({{"quitWithAbleton", true}});
    desktop.startLive();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForReport(15.0, [](const Json& r) { return r["state"] == "attached" && r["bar"]["shown"] == true; }))
        << desktop.appLog();
    desktop.live().send("minimise");
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["bar"]["shown"] == false; }))
        << desktop.appLog();
    desktop.live().send("restore");
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["bar"]["shown"] == true; }))
        << desktop.appLog();

    // Back within a second: it stays.
    desktop.live().send("quit");
    ASSERT_TRUE(eventually(5.0, [&] { return !desktop.live().running(); }));
    std::this_thread::sleep_for(1s);
    const pid_t again = desktop.startLive();
    std::this_thread::sleep_for(5s);
    ASSERT_TRUE(desktop.app().running()) << desktop.appLog();
    ASSERT_TRUE(desktop.waitForReport(5.0, [&](const Json& r) { return r["livePid"] == again; }));

    // Gone for good: it quits about three seconds later, cleanly.
    desktop.live().send("quit");
    ASSERT_TRUE(eventually(5.0, [&] { return !desktop.live().running(); }));
    const auto gone = std::chrono::steady_clock::now();
    // Three seconds, the next tick and a clean shut-down, which takes a
    // few seconds more in the sanitizer build on a busy machine.
    ASSERT_TRUE(eventually(9.0, [&] { return !desktop.app().running(); })) << desktop.appLog();
    const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - gone).count();
    EXPECT_GE(after, 2.5);
    ASSERT_TRUE(desktop.app().exitStatus());
    EXPECT_TRUE(WIFEXITED(*desktop.app().exitStatus()) && WEXITSTATUS(*desktop.app().exitStatus()) == 0);
}

}  // namespace
}  // namespace crestline
