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

    DesktopSession desktop;
};

TEST_F(EndToEnd, WithoutLiveItFloatsAndMetersAllSound) {
    desktop.startApp();
    desktop.play(-20.0, 1000.0, 20.0);
    const auto report = desktop.waitForReport(15.0, [](const Json& r) {
        return r["state"] == "standalone" && r["meteredPid"] == 0 && isNumber(r["meter"]["momentary"]) &&
               r["meter"]["momentary"].get<double>() > -25.0;
    });
    ASSERT_TRUE(report) << desktop.appLog();
    EXPECT_EQ((*report)["mode"], "floating");
    EXPECT_EQ((*report)["bar"]["shown"], true);
    EXPECT_TRUE((*report)["livePid"].is_null());
    EXPECT_EQ(desktop.windowsTitled("Crestline by KESTO").size(), 1u);
}

TEST_F(EndToEnd, LiveStartingAsksOnceAndTheKeyboardAnswerAttaches) {
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["state"] == "standalone"; }))
        << desktop.appLog();
    const pid_t live = desktop.startLive();
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
    const auto report = desktop.waitForReport(10.0, [&](const Json& r) {
        return r["state"] == "attached" && r["mode"] == "pinned" && r["meteredPid"] == live;
    });
    ASSERT_TRUE(report) << desktop.appLog();
    EXPECT_TRUE(eventually(5.0, [&] {
        const auto shown = desktop.windowsTitled("Crestline");
        return std::find(shown.begin(), shown.end(), questions.front()) == shown.end();
    }));
    ASSERT_TRUE(eventually(5.0, [&] { return desktop.storedSettings().value("barMode", "") == "pinned"; }));
}

TEST_F(EndToEnd, PinnedTheBarSpansTheTopAndMetersOnlyLive) {
    pinned();
    const pid_t live = desktop.startLive({"--level", "-23", "--frequency", "1000"});
    desktop.play(-10.0, 440.0, 30.0);  // another program, louder
    desktop.startApp();
    const auto report = desktop.waitForReport(20.0, [&](const Json& r) {
        const Json& liveWindow = r["liveWindow"];
        return r["state"] == "attached" && r["meteredPid"] == live && r["bar"]["shown"] == true &&
               std::abs(number(liveWindow, "y") - number(r["bar"], "height")) <= 1.0;
    });
    ASSERT_TRUE(report) << desktop.appLog();
    EXPECT_EQ((*report)["mode"], "pinned");
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

TEST_F(EndToEnd, LiveTooTallForTheRoomShrinksTheBarAndItsMinimumIsStored) {
    pinned();
    desktop.startLive({"--min-size", "400,1050"});
    desktop.startApp();
    const auto report = desktop.waitForReport(20.0, [](const Json& r) {
        return r["state"] == "attached" && r["bar"]["shown"] == true && number(r["bar"], "height") < 36.0;
    });
    ASSERT_TRUE(report) << desktop.appLog();
    EXPECT_GE((*report)["bar"]["height"].get<double>(), 28.0);
    ASSERT_TRUE(eventually(5.0, [&] { return desktop.storedSettings().contains("liveMinimumHeight"); }))
        << desktop.storedSettings().dump();
    EXPECT_GE(desktop.storedSettings()["liveMinimumHeight"].get<double>(), 1050.0);
}

TEST_F(EndToEnd, TheBarHidesWhileLiveIsMinimisedAndReturnsWithIt) {
    pinned();
    desktop.startLive();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForReport(15.0, [](const Json& r) { return r["bar"]["shown"] == true; }))
        << desktop.appLog();
    desktop.live().send("minimise");
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["bar"]["shown"] == false; }))
        << desktop.appLog();
    desktop.live().send("restore");
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["bar"]["shown"] == true; }))
        << desktop.appLog();
}

TEST_F(EndToEnd, QuitsThreeSecondsAfterLiveUnlessLiveComesBackInTime) {
    pinned({{"quitWithAbleton", true}});
    desktop.startLive();
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForReport(15.0, [](const Json& r) { return r["state"] == "attached"; }))
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
    ASSERT_TRUE(eventually(8.0, [&] { return !desktop.app().running(); })) << desktop.appLog();
    const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - gone).count();
    EXPECT_GE(after, 2.5);
    EXPECT_LE(after, 6.5);  // three seconds, the next tick, a clean shut-down on a busy machine
    ASSERT_TRUE(desktop.app().exitStatus());
    EXPECT_TRUE(WIFEXITED(*desktop.app().exitStatus()) && WEXITSTATUS(*desktop.app().exitStatus()) == 0);
}

TEST_F(EndToEnd, MeteringResumesWithinFourSecondsOfTheSoundServersReturn) {
    desktop.startApp();
    desktop.play(-20.0, 1000.0, 10.0);
    ASSERT_TRUE(desktop.waitForReport(15.0, [](const Json& r) { return r["meteredPid"] == 0; })) << desktop.appLog();

    desktop.killSound();
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["meteredPid"].is_null(); }))
        << desktop.appLog();
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(desktop.startSound(), "");
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(desktop.waitForReport(8.0, [](const Json& r) { return r["meteredPid"] == 0; })) << desktop.appLog();
    const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count();
    EXPECT_LE(after, 4.0);

    // And it hears what plays now.
    desktop.play(-20.0, 1000.0, 10.0);
    EXPECT_TRUE(desktop.waitForReport(10.0, [](const Json& r) {
        return isNumber(r["meter"]["momentary"]) && r["meter"]["momentary"].get<double>() > -25.0;
    })) << desktop.appLog();
}

TEST_F(EndToEnd, TheBarFollowsTheHelpersTransport) {
    const std::uint16_t port = freeUdpPort();
    ASSERT_NE(port, 0);
    setenv("CRESTLINE_HELPER_PORT", std::to_string(port).c_str(), 1);
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForReport(10.0, [](const Json& r) { return r["transport"].is_null(); })) << desktop.appLog();
    Child simulate(DesktopSession::binary("crestline-live"),
                   {"crestline-live", "simulate", "--port", std::to_string(port), "--bpm", "120", "--seconds", "8",
                    "--locators", "0:Intro,32:Drop"},
                   desktop.folder() / "simulate.log");
    const auto report = desktop.waitForReport(8.0, [](const Json& r) {
        return r["transport"].is_object() && r["transport"]["source"] == "helper" &&
               r["transport"]["playing"] == true && std::abs(number(r["transport"], "bpm") - 120.0) < 1.0;
    });
    EXPECT_TRUE(report) << desktop.appLog();
    unsetenv("CRESTLINE_HELPER_PORT");
}

TEST_F(EndToEnd, AFloatingFrameStoredOffScreenComesBackWithEightyPointsVisible) {
    desktop.writeSettings({{"barMode", "floating"},
                           {"floatingX", 6000.0},
                           {"floatingY", -3000.0},
                           {"floatingWidth", 900.0},
                           {"floatingHeight", 60.0}});
    desktop.startApp();
    const auto report = desktop.waitForReport(10.0, [](const Json& r) { return r["bar"]["shown"] == true; });
    ASSERT_TRUE(report) << desktop.appLog();
    const Json& bar = (*report)["bar"];
    const double x = bar["x"], y = bar["y"], width = bar["width"], height = bar["height"];
    const double visibleWidth = std::min(x + width, double(DesktopSession::kWidth)) - std::max(x, 0.0);
    const double visibleHeight = std::min(y + height, double(DesktopSession::kHeight)) - std::max(y, 0.0);
    EXPECT_GE(visibleWidth, 80.0) << bar.dump();
    EXPECT_GT(visibleHeight, 0.0) << bar.dump();
}

}  // namespace
}  // namespace crestline
