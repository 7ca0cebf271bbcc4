// The engine metering what a real PulseAudio server plays.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "analysis/audio_engine.h"
#include "platform/pulse_audio_service.h"
#include "settings/settings.h"
#include "tests/capture/pulse/pulse_server.h"

using namespace crestline;
using namespace crestline::testing;

TEST(PulseEngine, SineAtMinus23dBFSReadsMinus23LufsIntegrated) {
    PulseServer server({"sink_name=test format=float32le rate=48000 channels=2"});
    ASSERT_TRUE(server.ready()) << server.log();
    ScopedAudioService scoped(std::make_shared<PulseAudioService>());
    Settings settings(std::filesystem::path(runtimeFolder()) / "settings.json", systemClock(),
                      Settings::Writing::manual);
    Settings::setSharedForTesting(&settings);

    // EBU Tech 3341 case 1: 1 kHz at -23 dBFS on both channels reads -23 LUFS.
    const double amplitude = std::pow(10.0, -23.0 / 20.0);
    const auto file = writeWav("minus23.wav", 2, 48000, 20.0,
                               [&](int, std::int64_t f) { return sine(amplitude, 1000.0, 48000, f); });
    Player player(file, "test");
    {
        AudioEngine engine;
        ASSERT_TRUE(eventually(10.0, [&] {
            try {
                engine.attach(player.pid(), TapMode::tapOnly, TapSource::automatic());
                return true;
            } catch (const CoreAudioError&) {
                return false;
            }
        }));
        EXPECT_DOUBLE_EQ(engine.tap()->sampleRate(), 48000.0);
        EXPECT_EQ(engine.liveSampleRate(), 48000.0);

        // Past the player's first buffer, then four seconds of steady tone.
        ASSERT_TRUE(eventually(5.0, [&] { return engine.scope().totalFrames() >= 48000; }));
        engine.resetMeter();
        const auto start = engine.scope().totalFrames();
        ASSERT_TRUE(eventually(10.0, [&] { return engine.scope().totalFrames() >= start + 4 * 48000; }));
        const auto reading = engine.meter().reading();
        EXPECT_NEAR(reading.integrated, -23.0, 0.2);
        EXPECT_NEAR(reading.shortTerm, -23.0, 0.2);
        EXPECT_NEAR(reading.momentary, -23.0, 0.2);
        EXPECT_NEAR(reading.truePeak, -23.0, 0.2);
        EXPECT_NEAR(engine.peaks().take().left, -23.0, 0.1);
        EXPECT_FALSE(engine.tap()->streamFailed());
    }
    Settings::setSharedForTesting(nullptr);
}
