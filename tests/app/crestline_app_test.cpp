// The controller's lifecycle against fakes: a simulated sound server, a
// scripted process list, a fake clock and loop, questions answered by the
// test and a placement that only records.
#include "app/crestline_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/app_report.h"
#include "bar/bar_view.h"
#include "live/live_sync.h"
#include "platform/fake_accessibility.h"
#include "platform/log.h"
#include "platform/running_processes.h"
#include "platform/simulated_sound_server.h"
#include "settings/settings.h"
#include "tests/app/app_fakes.h"
#include "tests/live/fixtures.h"

namespace crestline {
namespace {

using namespace crestline::testing;
namespace fx = crestline::fixtures;
using Request = SimulatedSoundServer::Request;

constexpr int kLive = 4242;

class CrestlineAppTest : public ::testing::Test {
protected:
    CrestlineAppTest() {
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        static QApplication* application = new QApplication(argc, argv);  // until exit
        (void)application;
        Settings::setSharedForTesting(&settings);
        speakers = service->addSink("speakers", 2);  // the default
        usb = service->addSink("usb", 2);
        previousLayer = setAccessibility(layer);
    }
    ~CrestlineAppTest() override {
        app.reset();
        setAccessibility(previousLayer);
        Settings::setSharedForTesting(nullptr);
    }

    void make(bool atLogin = false) {
        capture.stopped = setReader.stopped = false;  // a previous controller's shut-down stopped them
        app = std::make_unique<CrestlineApp>(
            CrestlineApp::World{settings, clock, processes, loop, *captureWorker, setReader, questions, launcher,
                                [this] { return mouseHeld; }, std::make_unique<AbsentMidi>(), 0},
            [this](CrestlineApp& host) {
                auto made = std::make_unique<FakePlacement>(host);
                placement = made.get();
                return made;
            },
            atLogin);
        app->start(false);
        loop.pump();
    }

    void startLive(int pid = kLive, std::uint32_t sink = 0) {
        liveStream = service->addSinkInput(sink != 0 ? sink : speakers, pid);
        processes.processes.push_back({pid, "Ableton Live 12", "Ableton Live 12 Suite"});
    }
    void quitLive() {
        service->removeSinkInput(liveStream);
        processes.processes.clear();
    }
    void tick(double seconds = CrestlineApp::kPeriodicSeconds) {
        clock.advance(seconds);
        app->periodic();
        loop.pump();
    }
    void deliver() {
        service->deliver(std::vector<float>(960, 0.1f), 2);
    }
    int tapsMade() const {
        int n = 0;
        for (const std::string& line : service->journal()) n += line.rfind("record", 0) == 0;
        return n;
    }

    FakeClock clock;
    fx::ScratchFolder root;
    fx::LiveRootOverride rootOverride{root.path()};
    Settings settings{std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) /
                          ::testing::UnitTest::GetInstance()->current_test_info()->name() / "settings.json",
                      clock, Settings::Writing::manual};
    std::shared_ptr<SimulatedSoundServer> service = std::make_shared<SimulatedSoundServer>();
    ScopedSoundServer installed{service};
    std::shared_ptr<FakeAccessibility> layer = std::make_shared<FakeAccessibility>();
    std::shared_ptr<Accessibility> previousLayer;
    std::uint32_t speakers = 0;
    std::uint32_t usb = 0;
    std::uint32_t liveStream = 0;
    FakeProcessList processes;
    FakeLoop loop{clock};
    InlineBackground capture;
    Background* captureWorker = &capture;
    InlineBackground setReader;
    ScriptedQuestions questions;
    FakeLauncher launcher;
    bool mouseHeld = false;
    FakePlacement* placement = nullptr;
    std::unique_ptr<CrestlineApp> app;
};

TEST_F(CrestlineAppTest, StartsOnItsOwnMeteringAllSoundOrWaitsForLiveWhenLaunchedAtLogin) {
    struct Row {
        bool atLogin;
        CrestlineApp::State state;
        bool shown;
        std::optional<std::int32_t> metered;
        std::optional<std::string> status;
    };
    const Row rows[] = {
        {false, CrestlineApp::State::standalone, true, 0, std::nullopt},
        {true, CrestlineApp::State::waiting, false, std::nullopt, CrestlineApp::kWaitingStatus},
    };
    for (const Row& row : rows) {
        make(row.atLogin);
        tick();
        EXPECT_EQ(app->state(), row.state) << row.atLogin;
        EXPECT_EQ(placement->shown, row.shown) << row.atLogin;
        EXPECT_EQ(app->meteredPid(), row.metered) << row.atLogin;
        EXPECT_EQ(app->view().status(), row.status) << row.atLogin;
        app.reset();
    }
}

TEST_F(CrestlineAppTest, LiveStartingWhileStandaloneRaisesExactlyOneAttachQuestion) {
    make();
    startLive();
    for (int i = 0; i < 5; ++i) tick();
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].question.message, "Ableton Live is open. Attach Crestline to Live?");
    EXPECT_EQ(questions.asked[0].question.yes, "Attach to Live");
    EXPECT_EQ(app->meteredPid(), kLive);  // Live's sound, even before the answer

    questions.answer(true);
    EXPECT_EQ(settings.barMode(), BarMode::pinned);
    EXPECT_EQ(app->state(), CrestlineApp::State::attached);
    tick();
    EXPECT_EQ(app->meteredPid(), kLive);
    for (int i = 0; i < 5; ++i) tick();
    EXPECT_EQ(questions.asked.size(), 1u);
}

TEST_F(CrestlineAppTest, AnswersGivenAfterLiveCameOrWentChangeNothing) {
    // Asked to attach; Live quits before the answer.
    make();
    startLive();
    tick();
    ASSERT_EQ(questions.asked.size(), 1u);
    quitLive();
    questions.answer(true);
    EXPECT_FALSE(settings.contains("barMode"));
    EXPECT_EQ(app->state(), CrestlineApp::State::standalone);

    // Floating and attached, Live quits: asked to keep open; Live returns
    // before "Close" is chosen.
    app.reset();
    questions.asked.clear();
    settings.setBarMode(BarMode::floating);
    make(true);
    startLive();
    tick();
    ASSERT_EQ(app->state(), CrestlineApp::State::attached);
    placement->shown = true;
    quitLive();
    tick();
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].question.message, "Ableton Live was closed. Keep Crestline open?");
    EXPECT_EQ(app->state(), CrestlineApp::State::standalone);
    startLive();
    questions.answer(false);
    EXPECT_EQ(app->state(), CrestlineApp::State::standalone);
    EXPECT_NE(app->view().status(), std::optional<std::string>(CrestlineApp::kWaitingStatus));
}

TEST_F(CrestlineAppTest, AFailedAttachSaysSoAndIsRetriedEveryTwoSeconds) {
    service->fail(Request::record, ServerStatus::refused, -1);
    LogCapture logs;
    startLive();
    make(true);
    EXPECT_EQ(app->view().status(), std::string(CrestlineApp::kLiveTapStatus));
    ASSERT_TRUE(app->lastError().has_value());
    const std::string failure = "Crestline: " + *app->lastError();
    EXPECT_EQ(logs.count(failure), 1);

    const int first = tapsMade();
    tick(1.9);
    EXPECT_EQ(tapsMade(), first);  // not yet
    tick(0.2);
    EXPECT_GT(tapsMade(), first);
    EXPECT_EQ(logs.count(failure), 2);

    service->clearFailures();
    tick(2.1);
    EXPECT_EQ(app->meteredPid(), kLive);
    EXPECT_FALSE(app->view().status().has_value());
    EXPECT_FALSE(app->lastError().has_value());
    const int attached = tapsMade();
    deliver();
    for (int i = 0; i < 5; ++i) tick();
    EXPECT_EQ(tapsMade(), attached);
}

TEST_F(CrestlineAppTest, AnOutputDeviceChangeCountsOnlyOnceItHeldForOneAndAHalfSeconds) {
    startLive();
    make(true);
    ASSERT_EQ(app->meteredPid(), kLive);
    // A flip that reverts within 1.5 s, then a new sighting that holds.
    EXPECT_EQ(app->deviceNeedingReattach("usb"), std::nullopt);
    clock.advance(1.0);
    EXPECT_EQ(app->deviceNeedingReattach("usb"), std::nullopt);
    EXPECT_EQ(app->deviceNeedingReattach("speakers"), std::nullopt);
    clock.advance(0.6);
    EXPECT_EQ(app->deviceNeedingReattach("usb"), std::nullopt);  // a first sighting again
    clock.advance(1.4);
    EXPECT_EQ(app->deviceNeedingReattach("usb"), std::nullopt);
    clock.advance(0.2);
    EXPECT_EQ(app->deviceNeedingReattach("usb"), std::optional<std::string>("usb"));
    EXPECT_EQ(app->deviceNeedingReattach(std::nullopt), std::nullopt);
    EXPECT_EQ(app->deviceNeedingReattach("speakers"), std::nullopt);  // back: nothing pending

    // Through the periodic check: Live moves to the USB interface and stays.
    deliver();
    const int before = tapsMade();
    service->removeSinkInput(liveStream);
    liveStream = service->addSinkInput(usb, kLive);
    tick();
    EXPECT_EQ(tapsMade(), before);
    tick();
    EXPECT_EQ(tapsMade(), before);
    tick();
    EXPECT_GT(tapsMade(), before);
    ASSERT_TRUE(app->engine().tap() && app->engine().tap()->device());
    EXPECT_EQ(app->engine().tap()->device()->uid, "usb");
}

TEST_F(CrestlineAppTest, TheHealthCheckReplacesATapThatStoppedOrChanged) {
    struct Row {
        const char* name;
        std::function<void()> harm;  // done to a working tap
        const char* logLine;
        ProcessTap::Mode mode;  // of the new tap
    };
    const Row rows[] = {
        {"silent", [] {}, "Crestline: geen callbacks via tap-only aggregate, overschakelen naar output device",
         ProcessTap::Mode::withOutputDevice},
        {"rate", [this] { service->setSinkRate("speakers", 44100.0); },
         "Crestline: samplerate gewijzigd naar 44100 Hz, opnieuw koppelen", ProcessTap::Mode::tapOnly},
        {"failed", [this] { service->end(RecordingEnd::serverGone, "Connection terminated"); },
         "Crestline: opname gestopt, opnieuw koppelen", ProcessTap::Mode::tapOnly},
    };
    for (const Row& row : rows) {
        LogCapture logs;
        make();
        ASSERT_EQ(app->meteredPid(), 0) << row.name;
        if (std::string(row.name) != "silent") deliver();
        row.harm();
        const int before = tapsMade();
        tick(2.1);
        EXPECT_EQ(logs.count(row.logLine), 1) << row.name;
        EXPECT_GT(tapsMade(), before) << row.name;
        ASSERT_TRUE(app->engine().tap()) << row.name;
        EXPECT_EQ(app->engine().tap()->mode(), row.mode) << row.name;
        app.reset();
    }
}

TEST_F(CrestlineAppTest, ANewTapIsPreparedOffTheMainThreadWhileTheOldOneMetersOn) {
    ThreadedBackground worker(loop);
    captureWorker = &worker;
    make();
    worker.runPending();
    // Prepared on the worker, but only the main thread puts it to work.
    EXPECT_EQ(service->recordingCount(), 1);
    EXPECT_FALSE(app->engine().tap());
    loop.pump();
    ASSERT_TRUE(app->engine().tap());
    const ProcessTap* first = app->engine().tap().get();
    deliver();

    // The rate changes: the probe (on the worker) asks for a new tap.
    service->setSinkRate("speakers", 44100.0);
    tick(2.1);
    worker.runPending();
    loop.pump();
    worker.runPending();
    // Ready but not yet swapped in: the old tap still meters, on its own.
    EXPECT_EQ(service->recordingCount(), 2);
    EXPECT_EQ(app->engine().tap().get(), first);
    const std::uint64_t before = app->engine().scope().activity();
    EXPECT_EQ(service->deliver(std::vector<float>(960, 0.1f), 2), 2);
    EXPECT_EQ(app->engine().scope().activity(), before + 1);

    loop.pump();
    ASSERT_TRUE(app->engine().tap());
    EXPECT_NE(app->engine().tap().get(), first);
    EXPECT_EQ(app->engine().tap()->sampleRate(), 44100.0);
    EXPECT_EQ(service->recordingCount(), 1);

    // Live comes and goes while an attach to it is under way: the tap it
    // brings back is not wanted any more.
    startLive();
    tick();
    quitLive();
    tick();
    worker.runPending();
    loop.pump();
    EXPECT_EQ(service->recordingCount(), 0);
    EXPECT_FALSE(app->meteredPid().has_value());
    EXPECT_FALSE(app->lastError().has_value());
    app.reset();
    worker.stop();
}

TEST_F(CrestlineAppTest, MeteringResumesOnceTheSoundServerIsBack) {
    make();
    deliver();
    // The server goes: the stream fails and nothing can be made meanwhile.
    service->fail(Request::record, ServerStatus::unreachable, -1);
    service->end(RecordingEnd::serverGone, "Connection terminated");
    for (int i = 0; i < 5; ++i) tick();
    EXPECT_FALSE(app->meteredPid().has_value());
    EXPECT_EQ(app->view().status(), std::string(CrestlineApp::kAllSoundStatus));

    // Back: within the next retry (2 s) plus one tick, a new tap meters.
    service->clearFailures();
    double waited = 0.0;
    while (!app->meteredPid() && waited < 4.0) {
        tick();
        waited += CrestlineApp::kPeriodicSeconds;
    }
    EXPECT_EQ(app->meteredPid(), 0);
    EXPECT_LE(waited, 2.0 + CrestlineApp::kPeriodicSeconds + 1e-9);
    EXPECT_FALSE(app->view().status().has_value());
}

TEST_F(CrestlineAppTest, QuitsThreeSecondsAfterLiveUnlessLiveReturnsMeanwhile) {
    settings.setQuitWithAbleton(true);
    for (const bool returns : {false, true}) {
        loop.quits = 0;
        processes.processes.clear();
        startLive();
        make();
        ASSERT_EQ(app->state(), CrestlineApp::State::attached);
        quitLive();
        tick();
        EXPECT_FALSE(placement->shown);
        clock.advance(2.0);
        loop.pump();
        if (returns) startLive();
        EXPECT_EQ(loop.quits, 0);
        clock.advance(1.1);
        loop.pump();
        EXPECT_EQ(loop.quits, returns ? 0 : 1) << returns;
        app.reset();
    }
}

TEST_F(CrestlineAppTest, TheSetIsNotReadWhileAMouseButtonIsHeld) {
    startLive();
    make(true);
    mouseHeld = true;
    for (int i = 0; i < 6; ++i) tick();
    EXPECT_EQ(setReader.jobs, 0);
    mouseHeld = false;
    tick();
    tick();
    EXPECT_EQ(setReader.jobs, 1);
    // Live shows no saved set (the fake's windows name no document).
    EXPECT_FALSE(app->liveSet().has_value());
}

TEST_F(CrestlineAppTest, AFailedSetReadKeepsTheSetAndIsTriedAgain) {
    const auto set = root / "Song.als";
    fx::writeFile(set, fx::gzip(fx::liveSetXml({{"32", "Drop"}}, {})));
    layer->addWindow(kLive, "Song")->set("AXDocument", std::string("file://") + set.string());
    startLive();
    make(true);
    tick();
    tick();
    ASSERT_TRUE(app->liveSet().has_value());
    ASSERT_EQ(app->liveSet()->locators.size(), 1u);
    ASSERT_TRUE(app->view().liveSet().has_value());

    // Live saves a broken file: the old set stays and the next poll reads again.
    fx::writeFile(set, "not a set");
    fx::setModified(set, 1800000000);
    const int reads = setReader.jobs;
    tick();
    tick();
    EXPECT_EQ(setReader.jobs, reads + 1);
    ASSERT_TRUE(app->liveSet().has_value());
    EXPECT_EQ(app->liveSet()->locators.front().name, "Drop");
    fx::writeFile(set, fx::gzip(fx::liveSetXml({{"32", "Drop"}, {"64", "Outro"}}, {})));
    fx::setModified(set, 1800000000);  // the same date as the failed read
    tick();
    tick();
    EXPECT_EQ(app->liveSet()->locators.size(), 2u);
}

TEST_F(CrestlineAppTest, OffersOneRestartWhenLiveRunsWithoutTheHelperAndReopensIt) {
    const auto prefs = root / "Library" / "Preferences" / "Ableton" / "Live 12.1";
    fx::writeFile(prefs / "Preferences.cfg", fx::preferencesCfg({}));
    startLive();
    LogCapture logs;
    make(true);  // Live runs: registration waits for it to quit
    EXPECT_FALSE(app->liveHelperRegistration().has_value());
    tick();
    tick();
    tick();
    EXPECT_TRUE(questions.asked.empty());  // Live has run for only 2.4 s
    tick();
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].question.message, "Restart Live to connect Crestline?");
    EXPECT_TRUE(app->asking());
    questions.answer(true);
    EXPECT_EQ(launcher.quitRequests, std::vector<int>{kLive});

    quitLive();
    tick();
    EXPECT_TRUE(launcher.opened.empty());
    clock.advance(CrestlineApp::kAfterLiveQuitSeconds);
    loop.pump();
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0].first.arguments.front(), "/opt/live/Ableton Live 12");
    EXPECT_EQ(settings.boolean("liveHelperRegistered.Live 12.1"), true);
    EXPECT_EQ(logs.count("Crestline: Live Helper als Control Surface: "), 1);

    startLive();
    for (int i = 0; i < 8; ++i) tick();
    EXPECT_EQ(questions.asked.size(), 1u);
}

TEST_F(CrestlineAppTest, ShutDownStopsTheCaptureBeforeTheWindowsGo) {
    make();
    ASSERT_EQ(service->recordingCount(), 1);
    app->shutDown();
    EXPECT_EQ(service->recordingCount(), 0);
    EXPECT_TRUE(capture.stopped);
    EXPECT_TRUE(setReader.stopped);
    EXPECT_EQ(placement->shutDowns, 1);
    app->shutDown();
    app->periodic();
    EXPECT_EQ(placement->shutDowns, 1);
    EXPECT_EQ(service->recordingCount(), 0);
}

TEST_F(CrestlineAppTest, LaunchedAgainItShowsTheBarAndWhileWaitingStandsAlone) {
    make(true);  // at login, without Live: waiting, hidden
    tick();
    ASSERT_EQ(app->state(), CrestlineApp::State::waiting);
    ASSERT_FALSE(placement->shown);
    app->reopen();
    EXPECT_EQ(placement->reopens, 1);
    EXPECT_TRUE(placement->shown);
    EXPECT_EQ(app->state(), CrestlineApp::State::standalone);
    EXPECT_EQ(app->meteredPid(), 0);
    EXPECT_FALSE(app->view().status().has_value());

    // Attached to Live it stays attached; the bar is shown again.
    app.reset();
    startLive();
    make(true);
    app->reopen();
    EXPECT_EQ(placement->reopens, 1);
    EXPECT_EQ(app->state(), CrestlineApp::State::attached);
    EXPECT_EQ(app->meteredPid(), kLive);
}

TEST_F(CrestlineAppTest, TheReportSaysWhatTheApplicationDoes) {
    make();
    nlohmann::json line = nlohmann::json::parse(reportLine(*app));
    EXPECT_EQ(line["state"], "standalone");
    EXPECT_EQ(line["mode"], "floating");
    EXPECT_EQ(line["meteredPid"], 0);
    EXPECT_TRUE(line["livePid"].is_null());
    EXPECT_EQ(line["bar"]["width"], 900);
    EXPECT_EQ(line["bar"]["shown"], true);
    EXPECT_TRUE(line["liveWindow"].is_null());
    EXPECT_TRUE(line["transport"].is_null());
    EXPECT_EQ(line["meter"]["sampleRate"], 48000);
    for (const char* key : {"momentary", "shortTerm", "integrated", "loudnessRange", "truePeak", "correlation"}) {
        EXPECT_TRUE(line["meter"].contains(key)) << key;
    }

    // The helper plays: the transport follows it.
    for (int i = 0; i < 12; ++i) {
        clock.advance(0.06);
        std::scoped_lock held(app->sync().lock());
        app->sync().applyHelper({{"type", "position"}, {"beat", 8.0 + i * 0.12}, {"playing", true}}, clock.now());
    }
    line = nlohmann::json::parse(reportLine(*app));
    EXPECT_EQ(line["transport"]["source"], "helper");
    EXPECT_EQ(line["transport"]["playing"], true);
    EXPECT_NEAR(line["transport"]["bpm"].get<double>(), 120.0, 1.0);
}

}  // namespace
}  // namespace crestline
