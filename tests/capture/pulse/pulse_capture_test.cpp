// The capture against a real PulseAudio server that each test starts itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "capture/process_tap.h"
#include "platform/log.h"
#include "platform/pulse_audio_service.h"
#include "tests/capture/pulse/pulse_server.h"

using namespace crestline;
using namespace crestline::testing;

namespace {

constexpr int kRate = 48000;

// Level per channel of what the tap delivers while measuring: the median of
// the blocks' mean squares, so that a block the player left empty on a busy
// machine (the server fills it with silence) cannot pull the level down.
class LevelMeter {
public:
    ProcessTap::Handler handler() {
        return [this](const float* left, const float* right, int frames) {
            double sumLeft = 0.0;
            double sumRight = 0.0;
            bool sound = false;
            for (int i = 0; i < frames; ++i) {
                sumLeft += static_cast<double>(left[i]) * left[i];
                sumRight += static_cast<double>(right[i]) * right[i];
                sound = sound || std::fabs(left[i]) > 0.01f || std::fabs(right[i]) > 0.01f;
            }
            std::scoped_lock lock(mutex_);
            if (!sound) return;
            soundBlocks_ += 1;
            if (!measuring_) return;
            left_.push_back(sumLeft / frames);
            right_.push_back(sumRight / frames);
            frames_ += frames;
        };
    }
    void begin() {
        std::scoped_lock lock(mutex_);
        left_.clear();
        right_.clear();
        frames_ = 0;
        measuring_ = true;
    }
    // Frames of the blocks that carried sound since `begin`.
    std::int64_t frames() const {
        std::scoped_lock lock(mutex_);
        return frames_;
    }
    // A player's stream starts only once its buffer is full, later still on
    // a busy machine.
    std::int64_t soundBlocks() const {
        std::scoped_lock lock(mutex_);
        return soundBlocks_;
    }
    // RMS in dBFS; -200 for digital silence.
    double leftDb() const { return db(left_); }
    double rightDb() const { return db(right_); }

private:
    double db(const std::vector<double>& blocks) const {
        std::scoped_lock lock(mutex_);
        if (blocks.empty()) return -200.0;
        std::vector<double> sorted = blocks;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
        const double median = sorted[sorted.size() / 2];
        return median > 0.0 ? 10.0 * std::log10(median) : -200.0;
    }

    mutable std::mutex mutex_;
    bool measuring_ = false;
    std::vector<double> left_;
    std::vector<double> right_;
    std::int64_t frames_ = 0;
    std::int64_t soundBlocks_ = 0;
};

class PulseCapture : public ::testing::Test {
protected:
    explicit PulseCapture(std::vector<std::string> sinks = {"sink_name=test format=float32le rate=48000 channels=2"})
        : server(sinks) {}

    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.log();
    }

    // Waits until the player's stream exists on the server.
    static void awaitStream(const Player& player) {
        ASSERT_TRUE(eventually(10.0, [&] {
            try {
                CA::processObject(player.pid());
                return true;
            } catch (const CoreAudioError&) {
                return false;
            }
        })) << "no stream of paplay " << player.pid();
    }

    // Starts a tap, waits for a quarter second of sound, then measures one second.
    std::unique_ptr<ProcessTap> measure(std::int32_t pid, TapSource source, LevelMeter& meter) {
        auto tap = std::make_unique<ProcessTap>(pid, TapMode::tapOnly, source);
        tap->prepare();
        tap->start(meter.handler());
        EXPECT_TRUE(eventually(10.0, [&] { return meter.soundBlocks() >= 25; }));
        meter.begin();
        EXPECT_TRUE(eventually(10.0, [&] { return meter.frames() >= kRate; }));
        return tap;
    }

    PulseServer server;
    std::shared_ptr<PulseAudioService> service = std::make_shared<PulseAudioService>();
    ScopedAudioService scoped{service};
    LogCapture logs;
};

// Left only at 0.25, or right only.
std::string sideTone(const std::string& name, int side) {
    return writeWav(name, 2, kRate, 20.0, [side](int c, std::int64_t f) {
        return c == side ? sine(0.25, 1000.0, kRate, f) : 0.0f;
    });
}

constexpr double kQuarterSineDb = -15.05;  // RMS of a sine of amplitude 0.25

}  // namespace

TEST_F(PulseCapture, LevelsComeThroughExactly) {
    const auto file = writeWav("half.wav", 2, kRate, 20.0, [](int, std::int64_t f) { return sine(0.5, 1000.0, kRate, f); });
    Player player(file, "test");
    awaitStream(player);
    LevelMeter meter;
    auto tap = measure(player.pid(), TapSource::automatic(), meter);
    EXPECT_FALSE(tap->usingMixdown());
    EXPECT_DOUBLE_EQ(tap->sampleRate(), 48000.0);
    ASSERT_TRUE(tap->device());
    EXPECT_EQ(tap->device()->uid, "test");
    EXPECT_EQ(tap->device()->streamChannels, std::vector<int>{2});
    EXPECT_NEAR(meter.leftDb(), -9.03, 0.05);
    EXPECT_NEAR(meter.rightDb(), -9.03, 0.05);
    EXPECT_TRUE(logs.contains("Crestline: 1 buffers [2ch/"));
    EXPECT_TRUE(logs.contains("b], skip 0, mode tapOnly, per stream, 1 paren, 48000.0 Hz"));
}

TEST_F(PulseCapture, TapOfOnePlayerLeavesTheOtherOut) {
    Player left(sideTone("left.wav", 0), "test");
    Player right(sideTone("right.wav", 1), "test");
    awaitStream(left);
    awaitStream(right);
    LevelMeter meter;
    auto tap = measure(left.pid(), TapSource::automatic(), meter);
    EXPECT_NEAR(meter.leftDb(), kQuarterSineDb, 0.05);
    EXPECT_LT(meter.rightDb(), -70.0);
}

TEST_F(PulseCapture, AllSoundCapturesEveryPlayer) {
    Player left(sideTone("left.wav", 0), "test");
    Player right(sideTone("right.wav", 1), "test");
    awaitStream(left);
    awaitStream(right);
    LevelMeter meter;
    auto tap = measure(0, TapSource::automatic(), meter);
    EXPECT_EQ(tap->processObjectID(), 0u);
    EXPECT_NEAR(meter.leftDb(), kQuarterSineDb, 0.05);
    EXPECT_NEAR(meter.rightDb(), kQuarterSineDb, 0.05);

    LevelMeter mixed;
    auto mixdown = measure(0, TapSource::mixdown(), mixed);
    EXPECT_TRUE(mixdown->usingMixdown());
    EXPECT_NEAR(mixed.leftDb(), kQuarterSineDb, 0.05);
    EXPECT_NEAR(mixed.rightDb(), kQuarterSineDb, 0.05);
}

TEST_F(PulseCapture, PlayerQuittingStopsTheTapAndIsReported) {
    Player player(sideTone("left.wav", 0), "test");
    awaitStream(player);
    LevelMeter meter;
    auto tap = measure(player.pid(), TapSource::automatic(), meter);
    EXPECT_FALSE(tap->streamFailed());
    player.quit();
    ASSERT_TRUE(eventually(5.0, [&] { return tap->streamFailed(); }));
    EXPECT_TRUE(logs.contains("Crestline: audiostream gestopt ("));
    const auto count = tap->callbackCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(tap->callbackCount(), count);
    tap->stop();
}

TEST_F(PulseCapture, PidWithoutSoundFailsWithTheProcessText) {
    ProcessTap tap(getpid(), TapMode::tapOnly, TapSource::automatic());
    try {
        tap.prepare();
        FAIL() << "prepare succeeded";
    } catch (const CoreAudioError& error) {
        EXPECT_EQ(error.description(), "Ableton heeft nog geen actief audioproces (OSStatus 0)");
    }
}

TEST_F(PulseCapture, WithoutAServerEveryReadFailsAsNotRunning) {
    server.stop();
    try {
        CA::processObject(1234);
        FAIL() << "no failure";
    } catch (const CoreAudioError& error) {
        EXPECT_EQ(error.status(), kAudioHardwareNotRunningError);
    }
    EXPECT_EQ(logs.count("Crestline: geluidsserver niet bereikbaar ("), 1);
    ProcessTap tap(0, TapMode::tapOnly, TapSource::automatic());
    EXPECT_THROW(tap.prepare(), CoreAudioError);
    EXPECT_EQ(logs.count("Crestline: geluidsserver niet bereikbaar ("), 1);  // once, not per call
}

namespace {

class PulseEightChannels : public PulseCapture {
protected:
    PulseEightChannels()
        : PulseCapture({"sink_name=octo format=float32le rate=48000 channels=8 "
                        "channel_map=aux0,aux1,aux2,aux3,aux4,aux5,aux6,aux7"}) {}

    static constexpr const char* kMap = "aux0,aux1,aux2,aux3,aux4,aux5,aux6,aux7";

    // Channel c carries a sine of amplitude (c + 1) / 16.
    static std::string graded() {
        return writeWav("graded.wav", 8, kRate, 20.0, [](int c, std::int64_t f) {
            return sine((c + 1) / 16.0, 1000.0, kRate, f);
        });
    }
    static double sineDb(double amplitude) { return 20.0 * std::log10(amplitude / std::sqrt(2.0)); }
};

}  // namespace

TEST_F(PulseEightChannels, DeliversTheChosenPairWithoutRemixing) {
    Player player(graded(), "octo", kMap);
    awaitStream(player);
    LevelMeter meter;
    auto tap = measure(player.pid(), TapSource::pair(2), meter);
    ASSERT_EQ(tap->pairMap().size(), 4u);
    EXPECT_EQ(tap->pairMap()[2], (ProcessTap::Pair{0, 4}));
    EXPECT_NEAR(meter.leftDb(), sineDb(5 / 16.0), 0.05);
    EXPECT_NEAR(meter.rightDb(), sineDb(6 / 16.0), 0.05);
}

TEST_F(PulseEightChannels, MixdownSumsThePairsAfterItsGain) {
    Player player(graded(), "octo", kMap);
    awaitStream(player);
    LevelMeter meter;
    auto tap = measure(player.pid(), TapSource::mixdown(), meter);
    EXPECT_DOUBLE_EQ(tap->mixdownScale(), 4.0);
    EXPECT_TRUE(logs.contains("Crestline: mixdown corrigeert +12.04 dB voor 8 kanalen"));
    // In phase: left = (1 + 3 + 5 + 7) / 16, right = (2 + 4 + 6 + 8) / 16.
    EXPECT_NEAR(meter.leftDb(), sineDb(1.0), 0.05);
    EXPECT_NEAR(meter.rightDb(), sineDb(1.25), 0.05);
}
