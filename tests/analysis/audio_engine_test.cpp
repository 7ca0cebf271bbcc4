#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "analysis/audio_engine.h"
#include "platform/log.h"
#include "platform/simulated_sound_server.h"
#include "settings/settings.h"
#include "tests/analysis/signals.h"

using namespace crestline;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

namespace {

using Request = SimulatedSoundServer::Request;

constexpr std::int32_t kPid = 4242;
constexpr TapSource kAuto = TapSource::automatic();

// 480 stereo frames of a 1 kHz sine at 48 kHz: ten whole periods, so blocks join seamlessly.
std::vector<float> sineBlock(double amplitude) {
    std::vector<float> samples;
    for (float v : test::wave(1000.0, 48000.0, 480, amplitude)) samples.insert(samples.end(), {v, v});
    return samples;
}

class AudioEngineTest : public ::testing::Test {
protected:
    AudioEngineTest() {
        Settings::setSharedForTesting(&settings);
        sim->addSinkInput(sim->addSink("interface", 2), kPid);
    }
    ~AudioEngineTest() override { Settings::setSharedForTesting(nullptr); }

    void play(double seconds, double amplitude) {
        for (int b = 0; b < static_cast<int>(seconds * 100); ++b) ASSERT_EQ(sim->deliver(sineBlock(amplitude), 2), 1);
    }

    void expectDetached(const AudioEngine& engine) {
        EXPECT_FALSE(engine.tap());
        EXPECT_FALSE(engine.liveSampleRate());
        EXPECT_FALSE(engine.hasLiveTap());
        EXPECT_EQ(sim->recordingCount(), 0);
    }

    std::shared_ptr<SimulatedSoundServer> sim = std::make_shared<SimulatedSoundServer>();
    ScopedSoundServer scoped{sim};
    FakeClock clock;
    // One settings file per test: the destructor writes the store.
    Settings settings{std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) /
                          (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".json"),
                      clock, Settings::Writing::manual};
    LogCapture logs;
};

}  // namespace

TEST_F(AudioEngineTest, StartsOnTheStoredChannelAndAFailedAttachLeavesNoTapAndTheLastGoodTime) {
    settings.setString("spectrogramChannel", "side");
    AudioEngine engine(clock);
    EXPECT_EQ(engine.spectrogram().channel(), SpectrumChannel::side);  // as stored
    expectDetached(engine);
    EXPECT_EQ(engine.attachedAt(), -INFINITY);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    const double attached = clock.now();
    EXPECT_EQ(engine.attachedAt(), attached);
    clock.advance(5.0);
    EXPECT_THAT([&] { engine.attach(999, TapMode::tapOnly, kAuto); },
                ThrowsMessage<CoreAudioError>(StrEq("Ableton heeft nog geen actief audioproces (OSStatus 0)")));
    expectDetached(engine);
    EXPECT_EQ(engine.attachedAt(), attached);
    // The analysers take the tap's rate before it starts; a recording that
    // ended since it was prepared fails the start.
    sim->addSinkInput(sim->addSink("fast", 2, 96000.0), 88);
    const auto prepared = AudioEngine::prepareTap(88, TapMode::tapOnly, kAuto);
    sim->end(RecordingEnd::streamGone, "Entity killed");
    EXPECT_THAT([&] { engine.attach(prepared); },
                ThrowsMessage<CoreAudioError>(StrEq("Audio starten mislukt (OSStatus 560947818)")));
    expectDetached(engine);
    EXPECT_EQ(engine.meter().sampleRate(), 96000.0);
    EXPECT_EQ(engine.scope().rate(), 96000.0);
}

TEST_F(AudioEngineTest, AttachStopsTheOldTapBeforeTheNewOneIsPrepared) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    sim->clearJournal();
    engine.attach(kPid, TapMode::withOutputDevice, kAuto);
    auto journal = sim->journal();
    journal.resize(2);  // the rest prepares the new tap
    EXPECT_THAT(journal, ElementsAre("close interface", "sinkInputs"));
    EXPECT_EQ(sim->recordingCount(), 1);
    EXPECT_TRUE(engine.hasLiveTap());
}

TEST_F(AudioEngineTest, BlocksReachMeterPeaksAndScopeWithNonFiniteSamplesAsSilence) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    auto poisoned = sineBlock(0.5);
    poisoned[10] = NAN;
    poisoned[21] = INFINITY;
    sim->deliver(poisoned, 2);
    sim->deliver(poisoned, 2);
    EXPECT_EQ(logs.count("Crestline: niet-eindige samples"), 1);  // once per attach
    play(1.0, std::pow(10.0, -23.0 / 20.0));
    EXPECT_EQ(engine.scope().totalFrames(), 960u + 48000u);
    EXPECT_NEAR(engine.meter().reading().momentary, -23.0, 0.1);
    EXPECT_NEAR(engine.peaks().take().left, -6.02, 0.01);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    sim->deliver(poisoned, 2);
    EXPECT_EQ(logs.count("Crestline: niet-eindige samples"), 2);
}

TEST_F(AudioEngineTest, LiveSampleRateIsWhatTheServerReportsIfUsable) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    for (double rate : {44100.0, 0.0, -1.0, double(NAN), double(INFINITY)}) {
        sim->setSinkRate("interface", rate);
        EXPECT_EQ(engine.liveSampleRate(), rate == 44100.0 ? std::optional(rate) : std::nullopt) << rate;
    }
}

TEST_F(AudioEngineTest, AnAsynchronousAttachSwapsTheTapInOnlyWhenTheMainThreadFinishesIt) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    const auto old = engine.tap();
    const auto begin = [&](std::int32_t pid) {
        auto ready = std::make_shared<std::promise<void>>();
        engine.beginAttach(pid, TapMode::tapOnly, kAuto, [ready] { ready->set_value(); });
        return ready->get_future();
    };
    EXPECT_FALSE(engine.finishAttach());
    auto ready = begin(kPid);
    EXPECT_TRUE(engine.attachPending());
    ready.wait();
    // Until the main thread takes it the old tap still meters.
    EXPECT_EQ(engine.tap(), old);
    EXPECT_EQ(sim->recordingCount(), 2);
    clock.advance(3.0);
    EXPECT_TRUE(engine.finishAttach());
    EXPECT_FALSE(engine.attachPending());
    EXPECT_NE(engine.tap(), old);
    EXPECT_EQ(engine.attachedAt(), clock.now());
    EXPECT_EQ(sim->recordingCount(), 1);
    play(0.5, 0.5);
    EXPECT_GT(engine.scope().totalFrames(), 0u);

    // A failure reaches the main thread as the step's error and leaves the engine detached.
    begin(999).wait();
    EXPECT_THAT([&] { engine.finishAttach(); },
                ThrowsMessage<CoreAudioError>(StrEq("Ableton heeft nog geen actief audioproces (OSStatus 0)")));
    expectDetached(engine);
    EXPECT_FALSE(engine.finishAttach());

    // A later attach supersedes one still pending.
    engine.beginAttach(999, TapMode::tapOnly, kAuto);
    begin(kPid).wait();
    EXPECT_TRUE(engine.finishAttach());
    EXPECT_TRUE(engine.hasLiveTap());
    EXPECT_EQ(sim->recordingCount(), 1);

    // A recording that ends leaves the engine without a live tap.
    sim->end(RecordingEnd::serverGone, "Connection terminated");
    EXPECT_TRUE(engine.tap());
    EXPECT_FALSE(engine.hasLiveTap());
}

TEST_F(AudioEngineTest, ResetCommandsClearWhatTheirTargetNames) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    engine.spectrogram().stop();  // its columns come from the test alone
    // Which of short-term, integrated, true peak with overs, the meter's and the spectrogram's history hold something.
    const auto held = [&] {
        const auto r = engine.meter().reading();
        std::vector<float> history;
        return std::array{std::isfinite(r.shortTerm), std::isfinite(r.integrated), r.truePeak > -INFINITY || r.overs > 0,
                          engine.meter().copyHistory(1, HistorySource::shortTerm, history) > 0,
                          engine.spectrogram().filled() > 0};
    };
    using E = AudioEngine;
    for (const auto& [reset, after] : {std::pair{&E::resetShortTerm, std::array{false, true, true, true, true}},
                                       {&E::resetTruePeak, std::array{true, true, false, true, true}},
                                       {&E::resetIntegrated, std::array{true, false, true, true, true}},
                                       {&E::resetMeter, std::array{false, false, false, true, true}},
                                       {&E::resetHistory, std::array{true, true, true, false, false}}}) {
        play(4.0, 0.95);
        engine.spectrogram().appendColumn({});
        ASSERT_EQ(held(), (std::array{true, true, true, true, true}));
        (engine.*reset)();
        EXPECT_EQ(held(), after);
    }
}

TEST_F(AudioEngineTest, ShutDownWhileAudioArrivesIsOrderly) {
    for (int round = 0; round < 10; ++round) {
        std::atomic<bool> done{false};
        std::atomic<int> posted{0};
        std::thread feeder;
        {
            AudioEngine engine(clock);
            engine.attach(kPid, TapMode::tapOnly, kAuto);
            feeder = std::thread([&] {
                while (!done) posted += sim->deliverAsync(sineBlock(0.5), 2);
            });
            while (posted < 20) std::this_thread::yield();
        }
        EXPECT_EQ(sim->recordingCount(), 0);
        done = true;
        feeder.join();
    }
}

TEST_F(AudioEngineTest, AnArmedWakeFiresOnceOnTheFirstSoundAfterSilence) {
    std::atomic<int> wakes{0};
    AudioEngine engine(clock);
    engine.setWake([&] { ++wakes; });
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    play(0.05, 0.5);
    EXPECT_EQ(wakes, 0);  // not armed: metering costs nothing extra

    engine.armWake();
    ASSERT_EQ(sim->deliver(std::vector<float>(960, 0.0f), 2), 1);
    EXPECT_EQ(wakes, 0);  // silence sleeps on
    play(0.05, 0.5);
    EXPECT_EQ(wakes, 1);  // the first block only
    engine.armWake();
    play(0.01, 0.5);
    EXPECT_EQ(wakes, 2);
}
