#include "app/bar_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <filesystem>

#include "analysis/audio_engine.h"
#include "bar/bar_view.h"
#include "platform/log.h"
#include "platform/simulated_sound_server.h"
#include "settings/settings.h"

namespace crestline {
namespace {

// An application over its own settings file, a fake clock and a simulated
// audio server with speakers.
class BarAppTest : public ::testing::Test {
protected:
    BarAppTest() {
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        static QApplication* application = new QApplication(argc, argv);  // until exit
        (void)application;
        Settings::setSharedForTesting(&settings);
        service->addSink("speakers", 2);
    }
    ~BarAppTest() override { Settings::setSharedForTesting(nullptr); }

    int attempts() const {
        int n = 0;
        for (const std::string& line : service->journal()) n += line.rfind("record", 0) == 0;
        return n;
    }

    FakeClock clock;
    Settings settings{std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) /
                          ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                      clock, Settings::Writing::manual};
    std::shared_ptr<SimulatedSoundServer> service = std::make_shared<SimulatedSoundServer>();
    ScopedSoundServer installed{service};
};

TEST_F(BarAppTest, WithoutSoundToTapItSaysSoAndRetriesEveryTwoSeconds) {
    service->fail(SimulatedSoundServer::Request::record, ServerStatus::refused, -1);
    LogCapture logs;
    BarApp app(settings, clock);
    app.start();
    EXPECT_TRUE(app.window().isVisible());
    EXPECT_EQ(app.view().status(), std::string(BarApp::kAllSoundStatus));
    EXPECT_FALSE(app.engine().tap());
    // The failure is logged as the error's description.
    ASSERT_TRUE(app.lastError().has_value());
    const std::string failure = "Crestline: " + *app.lastError();
    EXPECT_EQ(logs.count(failure), 1);

    const auto tick = [&](double seconds) {
        clock.advance(seconds);
        app.periodic();
        return attempts();
    };
    const int afterFirst = attempts();
    EXPECT_GE(afterFirst, 1);
    EXPECT_EQ(tick(1.9), afterFirst);  // not yet
    EXPECT_GT(tick(0.2), afterFirst);  // 2.1 s after the first attempt
    EXPECT_EQ(app.view().status(), std::string(BarApp::kAllSoundStatus));
    EXPECT_EQ(logs.count(failure), 2);

    // Once taps can be made the next retry attaches, the status goes and
    // the attempts stop.
    service->clearFailures();
    const int attached = tick(2.1);
    ASSERT_TRUE(app.engine().tap());
    EXPECT_FALSE(app.view().status().has_value());
    EXPECT_FALSE(app.lastError().has_value());
    EXPECT_EQ(tick(10), attached);
}

TEST_F(BarAppTest, ShutDownStopsTheCaptureBeforeTheWindowGoes) {
    BarApp app(settings, clock);
    app.start();
    ASSERT_TRUE(app.engine().tap());
    EXPECT_EQ(service->recordingCount(), 1);
    app.shutDown();
    EXPECT_FALSE(app.engine().tap());
    EXPECT_EQ(service->recordingCount(), 0);
    app.shutDown();  // twice is harmless
    app.periodic();  // and the tick does nothing any more
    EXPECT_EQ(service->recordingCount(), 0);
}

TEST_F(BarAppTest, TheWindowTakesTheStoredSizeAndTheBarsMinimumWidth) {
    settings.setFloatingSize(1200, 80);
    BarApp app(settings, clock);
    app.start();
    QApplication::processEvents();
    EXPECT_EQ(app.window().size(), QSize(1200, 80));
    EXPECT_EQ(app.view().bounds().height, 80);
    // A lower window takes the inline meter, whose minimum differs.
    for (int height : {80, 36}) {
        app.window().resize(1200, height);
        QApplication::processEvents();
        EXPECT_EQ(app.window().minimumWidth(), static_cast<int>(std::ceil(app.view().minimumWidth()))) << height;
    }
}

}  // namespace
}  // namespace crestline
