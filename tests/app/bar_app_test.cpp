#include "app/bar_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <filesystem>

#include "analysis/audio_engine.h"
#include "bar/bar_view.h"
#include "platform/log.h"
#include "platform/simulated_audio_service.h"
#include "settings/settings.h"

namespace crestline {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);  // until exit
    return *app;
}

std::filesystem::path settingsFile(const char* name) {
    const char* root = std::getenv("XDG_CONFIG_HOME");
    return std::filesystem::path(root != nullptr ? root : "/tmp") / name;
}

class BarAppTest : public ::testing::Test {
protected:
    BarAppTest()
        : settings(settingsFile(::testing::UnitTest::GetInstance()->current_test_info()->name()), clock,
                   Settings::Writing::manual),
          service(std::make_shared<SimulatedAudioService>()),
          installed(service) {
        application();
        Settings::setSharedForTesting(&settings);
    }
    ~BarAppTest() override { Settings::setSharedForTesting(nullptr); }

    void addSpeakers() {
        const AudioObjectID device = service->addDevice("Speakers", "speakers", {2});
        service->setDefaultOutputDevice(device);
    }
    void refuseTaps() {
        service->inject(SimulatedAudioService::Fault::failing(SimulatedAudioService::Call::createProcessTap,
                                                              kAudioHardwareUnspecifiedError)
                            .always());
    }
    int attempts() const {
        int n = 0;
        for (const std::string& line : service->journal()) n += line.rfind("createProcessTap", 0) == 0;
        return n;
    }

    FakeClock clock;
    Settings settings;
    std::shared_ptr<SimulatedAudioService> service;
    ScopedAudioService installed;
};

TEST_F(BarAppTest, WithoutSoundToTapItSaysSoAndRetriesEveryTwoSeconds) {
    addSpeakers();
    refuseTaps();
    LogCapture logs;
    BarApp app(settings, clock);
    app.start();
    EXPECT_TRUE(app.window().isVisible());
    EXPECT_EQ(app.view().status(), std::string(BarApp::kAllSoundStatus));
    EXPECT_TRUE(app.lastError().has_value());
    EXPECT_FALSE(app.engine().tap());
    // The failure is logged as the error's description.
    ASSERT_TRUE(app.lastError().has_value());
    const std::string failure = "Crestline: " + *app.lastError();
    EXPECT_EQ(logs.count(failure), 1);

    const int afterFirst = attempts();
    EXPECT_GE(afterFirst, 1);
    clock.advance(1.9);
    app.periodic();
    EXPECT_EQ(attempts(), afterFirst);  // not yet
    clock.advance(0.2);
    app.periodic();
    EXPECT_GT(attempts(), afterFirst);  // 2.1 s after the first attempt
    EXPECT_EQ(app.view().status(), std::string(BarApp::kAllSoundStatus));
    EXPECT_EQ(logs.count(failure), 2);

    // The service lets taps be made again: the next retry attaches and the
    // status goes.
    service->clearFaults();
    clock.advance(2.1);
    app.periodic();
    ASSERT_TRUE(app.engine().tap());
    EXPECT_FALSE(app.view().status().has_value());
    EXPECT_FALSE(app.lastError().has_value());
    // Attached: no more attempts.
    const int attached = attempts();
    clock.advance(10);
    app.periodic();
    EXPECT_EQ(attempts(), attached);
}

TEST_F(BarAppTest, ShutDownStopsTheCaptureBeforeTheWindowGoes) {
    addSpeakers();
    BarApp app(settings, clock);
    app.start();
    ASSERT_TRUE(app.engine().tap());
    EXPECT_EQ(service->runningIOProcCount(), 1);
    app.shutDown();
    EXPECT_FALSE(app.engine().tap());
    EXPECT_EQ(service->runningIOProcCount(), 0);
    EXPECT_TRUE(service->taps().empty());
    app.shutDown();  // twice is harmless
    app.periodic();  // and the tick does nothing any more
    EXPECT_TRUE(service->taps().empty());
}

TEST_F(BarAppTest, TheWindowTakesTheStoredSizeAndTheBarsMinimumWidth) {
    settings.setFloatingSize(1200, 80);
    BarApp app(settings, clock);
    app.start();
    QApplication::processEvents();
    EXPECT_EQ(app.window().width(), 1200);
    EXPECT_EQ(app.window().height(), 80);
    EXPECT_GE(app.window().minimumWidth(), 320);
    EXPECT_EQ(app.view().bounds().height, 80);
    EXPECT_EQ(app.window().minimumWidth(), static_cast<int>(std::ceil(app.view().minimumWidth())));
    // A lower window takes the inline meter, whose minimum differs.
    app.window().resize(1200, 36);
    QApplication::processEvents();
    EXPECT_EQ(app.window().minimumWidth(), static_cast<int>(std::ceil(app.view().minimumWidth())));
}

}  // namespace
}  // namespace crestline
