#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "analysis/audio_engine.h"
#include "platform/log.h"
#include "platform/simulated_audio_service.h"
#include "settings/settings.h"
#include "tests/analysis/signals.h"

using namespace crestline;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

namespace {

using Buffer = SimulatedAudioService::Buffer;
using Call = SimulatedAudioService::Call;
using Fault = SimulatedAudioService::Fault;

constexpr std::int32_t kPid = 4242;
constexpr TapSource kAuto = TapSource::automatic();

// 480 stereo frames of a 1 kHz sine at 48 kHz: ten whole periods, so blocks join seamlessly.
Buffer sineBlock(double amplitude) {
    Buffer buffer;
    for (float v : test::wave(1000.0, 48000.0, 480, amplitude)) buffer.samples.insert(buffer.samples.end(), {v, v});
    return buffer;
}

class AudioEngineTest : public ::testing::Test {
protected:
    AudioEngineTest() {
        Settings::setSharedForTesting(&settings);
        sim->addProcess(kPid, {sim->addDevice("Interface", "interface-uid", {2}, 48000.0)});
    }
    ~AudioEngineTest() override { Settings::setSharedForTesting(nullptr); }

    void play(double seconds, double amplitude) {
        for (int b = 0; b < static_cast<int>(seconds * 100); ++b) ASSERT_EQ(sim->deliver({sineBlock(amplitude)}), 1);
    }

    void expectDetached(const AudioEngine& engine) {
        EXPECT_FALSE(engine.tap());
        EXPECT_FALSE(engine.liveSampleRate());
        EXPECT_TRUE(sim->taps().empty());
        EXPECT_TRUE(sim->aggregates().empty());
        EXPECT_EQ(sim->ioProcCount(), 0);
    }

    std::shared_ptr<SimulatedAudioService> sim = std::make_shared<SimulatedAudioService>();
    ScopedAudioService scoped{sim};
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
    // The analysers take the tap's rate before it starts.
    sim->addProcess(88, {sim->addDevice("Fast", "fast-uid", {2}, 96000.0)});
    sim->inject(Fault::failing(Call::startDevice, -50));
    EXPECT_THAT([&] { engine.attach(88, TapMode::tapOnly, kAuto); },
                ThrowsMessage<CoreAudioError>(StrEq("Audio starten mislukt (OSStatus -50)")));
    expectDetached(engine);
    EXPECT_EQ(engine.meter().sampleRate(), 96000.0);
    EXPECT_EQ(engine.scope().rate(), 96000.0);
}

TEST_F(AudioEngineTest, AttachStopsTheOldTapBeforeTheNewOneIsPrepared) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    const auto aggregate = std::to_string(engine.tap()->aggregateID());
    sim->clearJournal();
    engine.attach(kPid, TapMode::withOutputDevice, kAuto);
    auto journal = sim->journal();
    journal.resize(5);  // the rest prepares the new tap
    EXPECT_THAT(journal, ElementsAre("stopDevice " + aggregate, "destroyIOProcID " + aggregate,
                                     "destroyAggregateDevice " + aggregate, StartsWith("destroyProcessTap "), "read id2p 1"));
    EXPECT_EQ(sim->aggregates().size(), 1u);
    EXPECT_EQ(sim->runningIOProcCount(), 1);
}

TEST_F(AudioEngineTest, BlocksReachMeterPeaksAndScopeWithNonFiniteSamplesAsSilence) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    Buffer poisoned = sineBlock(0.5);
    poisoned.samples[10] = NAN;
    poisoned.samples[21] = INFINITY;
    sim->deliver({poisoned});
    sim->deliver({poisoned});
    EXPECT_EQ(logs.count("Crestline: niet-eindige samples"), 1);  // once per attach
    play(1.0, std::pow(10.0, -23.0 / 20.0));
    EXPECT_EQ(engine.scope().totalFrames(), 960u + 48000u);
    EXPECT_NEAR(engine.meter().reading().momentary, -23.0, 0.1);
    EXPECT_NEAR(engine.peaks().take().left, -6.02, 0.01);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    sim->deliver({poisoned});
    EXPECT_EQ(logs.count("Crestline: niet-eindige samples"), 2);
}

TEST_F(AudioEngineTest, LiveSampleRateIsWhatTheServiceReportsNowIfUsable) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, kAuto);
    for (double rate : {44100.0, 0.0, -1.0, double(NAN), double(INFINITY)}) {
        sim->setTapSampleRate(rate);
        EXPECT_EQ(engine.liveSampleRate(), rate == 44100.0 ? std::optional(rate) : std::nullopt) << rate;
    }
    sim->setTapSampleRate(48000.0);
    sim->inject(Fault::failing(Call::getPropertyData, kAudioHardwareBadObjectError).on(kAudioTapPropertyFormat));
    EXPECT_FALSE(engine.liveSampleRate());
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
                while (!done) posted += sim->deliverAsync({sineBlock(0.5)});
            });
            while (posted < 20) std::this_thread::yield();
        }
        EXPECT_EQ(sim->ioProcCount(), 0);
        EXPECT_TRUE(sim->aggregates().empty());
        done = true;
        feeder.join();
    }
}
