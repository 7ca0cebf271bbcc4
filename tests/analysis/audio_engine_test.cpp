#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "analysis/audio_engine.h"
#include "platform/log.h"
#include "platform/simulated_audio_service.h"
#include "settings/settings.h"

using namespace crestline;

namespace {

using Fault = SimulatedAudioService::Fault;
using Call = SimulatedAudioService::Call;
using Buffer = SimulatedAudioService::Buffer;

constexpr std::int32_t kPid = 4242;

// `frames` stereo frames of a 1 kHz sine of `amplitude` at 48 kHz, starting at `start`.
Buffer sineBlock(int frames, double amplitude, std::int64_t start = 0) {
    Buffer buffer;
    buffer.channels = 2;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(amplitude * std::sin(2.0 * M_PI * 1000.0 * (start + i) / 48000.0));
        buffer.samples.push_back(v);
        buffer.samples.push_back(v);
    }
    return buffer;
}

std::filesystem::path settingsFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    return std::filesystem::path(config ? config : "/tmp") / "engine-test-settings.json";
}

class AudioEngineTest : public ::testing::Test {
protected:
    AudioEngineTest() {
        std::filesystem::remove(settingsFile());
        Settings::setSharedForTesting(&settings);
        device = sim->addDevice("Interface", "interface-uid", {2}, 48000.0);
        sim->addProcess(kPid, {device});
    }
    ~AudioEngineTest() override { Settings::setSharedForTesting(nullptr); }

    // Feeds `seconds` of the sine in 480-frame blocks through the running tap.
    void play(double seconds, double amplitude) {
        const int blocks = static_cast<int>(seconds * 100);
        for (int b = 0; b < blocks; ++b) {
            ASSERT_EQ(sim->deliver({sineBlock(480, amplitude, played_)}), 1);
            played_ += 480;
        }
    }

    std::shared_ptr<SimulatedAudioService> sim = std::make_shared<SimulatedAudioService>();
    ScopedAudioService scoped{sim};
    FakeClock clock;
    Settings settings{settingsFile(), clock, Settings::Writing::manual};
    LogCapture logs;
    AudioObjectID device = 0;

private:
    std::int64_t played_ = 0;
};

template <typename Body>
std::string failureOf(Body body) {
    try {
        body();
    } catch (const CoreAudioError& error) {
        return error.description();
    }
    return "no failure";
}

}  // namespace

TEST_F(AudioEngineTest, StartsDetachedWithTheRecorderOnTheStoredChannel) {
    {
        AudioEngine engine(clock);
        EXPECT_FALSE(engine.tap());
        EXPECT_EQ(engine.attachedAt(), -INFINITY);
        EXPECT_FALSE(engine.liveSampleRate());
        EXPECT_EQ(engine.scope().capacity(), 262144);
        EXPECT_EQ(engine.spectrogram().channel(), SpectrumChannel::stereo);
        const auto peaks = engine.peaks().take();
        EXPECT_EQ(peaks.left, -INFINITY);
        EXPECT_EQ(peaks.right, -INFINITY);
    }
    settings.setString("spectrogramChannel", "side");
    EXPECT_EQ(AudioEngine(clock).spectrogram().channel(), SpectrumChannel::side);
    settings.setString("spectrogramChannel", "loudest");
    EXPECT_EQ(AudioEngine(clock).spectrogram().channel(), SpectrumChannel::stereo);
}

TEST_F(AudioEngineTest, AttachConfiguresTheAnalysersAndStampsTheTime) {
    const AudioObjectID slow = sim->addDevice("Old", "old-uid", {2}, 44100.0);
    sim->addProcess(77, {slow});
    AudioEngine engine(clock);
    clock.advance(12.5);
    engine.attach(77, TapMode::tapOnly, TapSource::automatic());
    ASSERT_TRUE(engine.tap());
    EXPECT_EQ(engine.tap()->pid(), 77);
    EXPECT_DOUBLE_EQ(engine.tap()->sampleRate(), 44100.0);
    EXPECT_DOUBLE_EQ(engine.scope().rate(), 44100.0);
    EXPECT_DOUBLE_EQ(engine.meter().sampleRate(), 44100.0);
    EXPECT_DOUBLE_EQ(engine.attachedAt(), clock.now());
    EXPECT_EQ(sim->runningIOProcCount(), 1);
}

TEST_F(AudioEngineTest, EveryBlockReachesMeterPeaksAndScope) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
    Buffer spike;
    spike.samples = {0.0f, 0.0f, -1.0f, 0.25f, 0.0f, 0.0f};
    ASSERT_EQ(sim->deliver({spike}), 1);
    const auto peaks = engine.peaks().take();
    EXPECT_DOUBLE_EQ(peaks.left, 0.0);
    EXPECT_NEAR(peaks.right, -12.04, 0.01);
    EXPECT_EQ(engine.scope().totalFrames(), 3u);

    play(1.0, std::pow(10.0, -23.0 / 20.0));
    EXPECT_EQ(engine.scope().totalFrames(), 3u + 48000u);
    EXPECT_NEAR(engine.meter().reading().momentary, -23.0, 0.1);
}

TEST_F(AudioEngineTest, NonFiniteSamplesBecomeSilenceAndAreLoggedOncePerAttach) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
    play(0.5, 0.5);
    Buffer poisoned = sineBlock(480, 0.5);
    poisoned.samples[10] = NAN;
    poisoned.samples[21] = INFINITY;
    poisoned.samples[33] = -INFINITY;
    sim->deliver({poisoned});
    sim->deliver({poisoned});
    play(0.5, 0.5);
    const auto reading = engine.meter().reading();
    EXPECT_TRUE(std::isfinite(reading.momentary));
    EXPECT_TRUE(std::isfinite(reading.truePeak));
    EXPECT_LT(reading.truePeak, 0.0);
    EXPECT_NEAR(engine.peaks().take().left, -6.02, 0.01);
    EXPECT_EQ(logs.count("Crestline: niet-eindige samples"), 1);

    engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
    sim->deliver({poisoned});
    EXPECT_EQ(logs.count("Crestline: niet-eindige samples"), 2);
}

TEST_F(AudioEngineTest, AttachStopsTheOldTapBeforeTheNewOneIsPrepared) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
    const auto aggregate = std::to_string(engine.tap()->aggregateID());
    sim->clearJournal();
    engine.attach(kPid, TapMode::withOutputDevice, TapSource::automatic());
    const auto journal = sim->journal();
    ASSERT_GE(journal.size(), 5u);
    EXPECT_EQ(journal[0], "stopDevice " + aggregate);
    EXPECT_EQ(journal[1], "destroyIOProcID " + aggregate);
    EXPECT_EQ(journal[2], "destroyAggregateDevice " + aggregate);
    EXPECT_EQ(journal[3].rfind("destroyProcessTap ", 0), 0u);
    EXPECT_EQ(journal[4], "read id2p 1");
    EXPECT_EQ(engine.tap()->mode(), TapMode::withOutputDevice);
    EXPECT_EQ(sim->aggregates().size(), 1u);
    EXPECT_EQ(sim->runningIOProcCount(), 1);
}

TEST_F(AudioEngineTest, AFailingPrepareLeavesNoTap) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
    const double attached = engine.attachedAt();
    clock.advance(5.0);
    EXPECT_EQ(failureOf([&] { engine.attach(999, TapMode::tapOnly, TapSource::automatic()); }),
              "Ableton heeft nog geen actief audioproces (OSStatus 0)");
    EXPECT_FALSE(engine.tap());
    EXPECT_DOUBLE_EQ(engine.attachedAt(), attached);
    EXPECT_TRUE(sim->taps().empty());
    EXPECT_TRUE(sim->aggregates().empty());
    EXPECT_EQ(sim->ioProcCount(), 0);
    EXPECT_FALSE(engine.liveSampleRate());
}

TEST_F(AudioEngineTest, AFailingStartLeavesNoTapButTheNewRate) {
    const AudioObjectID fast = sim->addDevice("Fast", "fast-uid", {2}, 96000.0);
    sim->addProcess(88, {fast});
    AudioEngine engine(clock);
    sim->inject(Fault::failing(Call::startDevice, -50));
    EXPECT_EQ(failureOf([&] { engine.attach(88, TapMode::tapOnly, TapSource::automatic()); }),
              "Audio starten mislukt (OSStatus -50)");
    EXPECT_FALSE(engine.tap());
    EXPECT_DOUBLE_EQ(engine.meter().sampleRate(), 96000.0);
    EXPECT_DOUBLE_EQ(engine.scope().rate(), 96000.0);
    EXPECT_TRUE(sim->taps().empty());
    EXPECT_EQ(sim->ioProcCount(), 0);
}

TEST_F(AudioEngineTest, LiveSampleRateIsWhatTheServiceReportsNow) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
    EXPECT_EQ(engine.liveSampleRate(), 48000.0);
    sim->setTapSampleRate(44100.0);
    EXPECT_EQ(engine.liveSampleRate(), 44100.0);
    EXPECT_DOUBLE_EQ(engine.tap()->sampleRate(), 48000.0);
    for (double odd : {0.0, -1.0, double(NAN), double(INFINITY)}) {
        sim->setTapSampleRate(odd);
        EXPECT_FALSE(engine.liveSampleRate()) << odd;
    }
    sim->setTapSampleRate(48000.0);
    sim->inject(Fault::failing(Call::getPropertyData, kAudioHardwareBadObjectError).on(kAudioTapPropertyFormat));
    EXPECT_FALSE(engine.liveSampleRate());
    engine.detach();
    EXPECT_FALSE(engine.liveSampleRate());
}

TEST_F(AudioEngineTest, ResetCommandsClearWhatTheirTargetNames) {
    AudioEngine engine(clock);
    engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
    const auto loud = [&] {
        play(4.0, 0.5);
        const auto reading = engine.meter().reading();
        ASSERT_TRUE(std::isfinite(reading.shortTerm));
        ASSERT_TRUE(std::isfinite(reading.integrated));
        ASSERT_TRUE(std::isfinite(reading.truePeak));
    };
    std::vector<float> history;
    const auto historyLength = [&] { return engine.meter().copyHistory(6000, HistorySource::shortTerm, history); };

    loud();
    engine.resetShortTerm();
    auto reading = engine.meter().reading();
    EXPECT_EQ(reading.shortTerm, -INFINITY);
    EXPECT_TRUE(std::isfinite(reading.integrated));

    engine.resetTruePeak();
    reading = engine.meter().reading();
    EXPECT_EQ(reading.truePeak, -INFINITY);
    EXPECT_EQ(reading.overs, 0);
    EXPECT_TRUE(std::isfinite(reading.integrated));

    engine.resetIntegrated();
    EXPECT_EQ(engine.meter().reading().integrated, -INFINITY);

    loud();
    const int stored = historyLength();
    ASSERT_GT(stored, 0);
    engine.resetMeter();
    reading = engine.meter().reading();
    EXPECT_EQ(reading.shortTerm, -INFINITY);
    EXPECT_EQ(reading.integrated, -INFINITY);
    EXPECT_EQ(reading.truePeak, -INFINITY);
    EXPECT_EQ(historyLength(), stored);  // the histories stay

    const auto generation = engine.spectrogram().generationCount();
    engine.resetHistory();
    EXPECT_EQ(historyLength(), 0);
    EXPECT_NE(engine.spectrogram().generationCount(), generation);
    EXPECT_EQ(engine.spectrogram().filled(), 0);
}

TEST_F(AudioEngineTest, ShutDownWhileAudioArrivesIsOrderly) {
    for (int round = 0; round < 10; ++round) {
        std::atomic<bool> done{false};
        std::thread feeder;
        {
            AudioEngine engine(clock);
            engine.attach(kPid, TapMode::tapOnly, TapSource::automatic());
            feeder = std::thread([&] {
                while (!done) sim->deliverAsync({sineBlock(480, 0.5)});
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(sim->ioProcCount(), 0);
        EXPECT_TRUE(sim->aggregates().empty());
        done = true;
        feeder.join();
    }
}
