// crestline-meter's picture: its settings overrides and module order, its
// beat grid, and the built tool drawing every module without touching the
// user's settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "live/live_sync.h"
#include "platform/clock.h"
#include "settings/settings.h"
#include "tests/tools/tool_run.h"
#include "tools/meter/beat_grid.h"
#include "tools/meter/picture_settings.h"

using namespace crestline;
using namespace crestline::meter_tool;
using namespace crestline::tools_test;

namespace {

class NoMidi final : public MidiInput {
public:
    MidiOpenResult open(const std::string&, Handler) override { return {MidiOpenResult::Failure::client, 0}; }
    void close() override {}
    bool isOpen() const override { return false; }
};

class PictureSettings : public ToolTest {
protected:
    FakeClock clock;
    Settings settings{dir_ / "settings.json", clock, Settings::Writing::memory};
};

}  // namespace

TEST_F(PictureSettings, OverridesTakeTheKeysStoredTypeAndRange) {
    for (const std::string accepted :
         {"scopeWindow=\"bars4\"", "imagerMode=\"lissajous\"", "historyMinutes=10", "spectrumTilt=-4.5",
          "showTimelineMarks=false", "meterIndex=1", "historyShows=[\"momentary\",\"integrated\"]",
          "accentColor.scope=[0,1,0.5]", "window3=\"spectrum\"", "meterPart.psr=false", "historyTargetLUFS=-16"}) {
        EXPECT_EQ(applySetting(accepted, settings), "") << accepted;
    }
    EXPECT_EQ(settings.scopeWindow(), ScopeWindow::bars4);
    EXPECT_EQ(settings.imagerMode(), ImagerMode::lissajous);
    EXPECT_EQ(settings.historyMinutes(), 10);
    EXPECT_EQ(settings.spectrumTilt(), -4.5);
    EXPECT_FALSE(settings.showTimelineMarks());
    EXPECT_EQ(settings.meterIndex(), 1);
    EXPECT_EQ(settings.historyShows(), (std::vector{HistorySource::momentary, HistorySource::integrated}));
    EXPECT_EQ(settings.accentColor(ColorArea::scope), (Rgb{0, 1, 0.5}));
    EXPECT_EQ(settings.window(3), GraphKind::spectrum);
    EXPECT_FALSE(settings.showPSR());
    settings.setTargetLUFS(-14);
    EXPECT_EQ(settings.historyTargetLUFS(), -16);  // the history's own, not the meter's

    // One line naming the option and the key; nothing is stored.
    for (const auto& [refused, reason] : std::vector<std::pair<std::string, std::string>>{
             {"nope=1", "--set: unknown settings key 'nope'"},
             {"fillAbleton=false", "unknown settings key"},  // stored, but nothing the bar draws
             {"=1", "unknown settings key ''"},
             {"scopeWindow=s4", "the value must be JSON"},
             {"scopeWindow=\"s5\"", "expected one of ms10"},
             {"scopeWindow=4", "expected one of"},
             {"historyMinutes=0", "above 0 to 10"},
             {"historyMinutes=11", ""},
             {"historyMinutes=\"5\"", ""},
             {"spectrumTilt=-25", "-24 to 24"},
             {"meterIndex=1.5", "a whole number"},
             {"meterIndex=9", ""},
             {"showTimelineMarks=1", "true or false"},
             {"historyShows=[\"psr\"]", "a list of momentary"},
             {"historyShows=\"shortTerm\"", ""},
             {"accentColor=[1,0]", "[red, green, blue]"},
             {"accentColor.meter=[1,0,2]", ""},
             {"targetLUFS=-71", ""},
             {"meterSpread=1e999", "the value must be JSON"},
             {"scopeWindow={\"a\":", "the value must be JSON"}}) {
        const std::string error = applySetting(refused, settings);
        EXPECT_NE(error.find(reason), std::string::npos) << refused << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(error.rfind("--set", 0), 0u) << error;
    }
    EXPECT_EQ(settings.historyMinutes(), 10);
    EXPECT_FALSE(settings.contains("nope"));
}

TEST_F(PictureSettings, TheModuleListIsStoredAsTheModuleOrder) {
    EXPECT_EQ(applyModules("spectrum, meter,imager", settings), "");
    EXPECT_EQ(settings.moduleOrder(), (std::vector{ColorArea::spectrum, ColorArea::meter, ColorArea::imager}));
    EXPECT_EQ(applyModules("history", settings), "");
    EXPECT_EQ(settings.moduleOrder(), std::vector{ColorArea::history});
    EXPECT_FALSE(settings.showMeter());
    for (const std::string refused : {"scope,scope", "scope,,meter", "scope,", "oscilloscope", "Meter"}) {
        EXPECT_NE(applyModules(refused, settings).rfind("--modules: ", 0), std::string::npos) << refused;
    }
    EXPECT_EQ(settings.moduleOrder(), std::vector{ColorArea::history});
}

TEST(BeatGrid, TheSyncFollowsASteadyTempoFromTheFilesStartToItsEnd) {
    FakeClock clock(500.0);
    LiveSync sync(clock, std::make_unique<NoMidi>());
    playBeatGrid(sync, clock, 30.25, 128.0, std::pair(7, 8));
    EXPECT_EQ(clock.now(), 530.25);
    const auto beat = sync.beatClock(clock.now());
    ASSERT_TRUE(beat.has_value());
    // The sync keeps positions in MIDI ticks: within one tick (1/24 beat).
    EXPECT_NEAR(beat->beat, 30.25 * 128.0 / 60.0, 1.0 / 24);
    EXPECT_NEAR(beat->beatsPerSecond, 128.0 / 60.0, 0.002);
    {
        std::scoped_lock lock(sync.lock());
        EXPECT_TRUE(sync.helperFreshLocked(clock.now()));
        EXPECT_EQ(sync.stateLocked().helperBeatsPerBar, 3.5);  // seven eighths
    }
    // A long file: the samples reach back as far as any display looks,
    // ten minutes, on the grid of the file's start.
    FakeClock later(0.0);
    LiveSync longer(later, std::make_unique<NoMidi>());
    playBeatGrid(longer, later, 3600.0, 120.0, std::nullopt);
    double first = -1.0;
    longer.forEachSample(0.0, [&](double time, double) {
        if (first < 0.0) first = time;
    });
    EXPECT_NEAR(first, 3000.0, 0.1 + 1e-9);  // the ring's last 6000 positions
    EXPECT_NEAR(longer.beatClock(later.now())->beat, 7200.0, 1.0 / 24);
}

TEST_F(PictureSettings, ThePictureDrawsEveryModuleFromTheFileAndLeavesTheUsersSettingsAlone) {
    const fs::path wav = dir_ / "music.wav", png = dir_ / "bar.png";
    ASSERT_EQ(run("crestline-demo", quoted(wav) + " --seconds 3").code, 0);
    const fs::path config = dir_ / "config";
    const fs::path file = config / "crestline" / "settings.json";
    fixtures::writeFile(file, "{\"scopeWindow\": \"s1\", \"window1\": \"history\"}");
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    const std::string kept = previous != nullptr ? previous : "";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);

    ToolRun r = run("crestline-meter", "--png " + quoted(png) +
                                           " --width 1900 --height 150 --modules scope,spectrum,imager,history,"
                                           "spectrogram,meter --set 'scopeWindow=\"bar1\"' --bpm 120 --signature 3/4 " +
                                           quoted(wav));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(pngSize(png), "3800x300");
    // Drawn narrower than the modules need: widened, and said once.
    r = run("crestline-meter", "--png " + quoted(png) + " --width 400 " + quoted(wav));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.errorLines(), 1);
    EXPECT_NE(r.err.find("wider than the 400 asked"), std::string::npos) << r.err;
    // A refused choice: one line, exit 2, and nothing metered.
    r = run("crestline-meter", "--png " + quoted(png) + " --set 'imagerMode=\"polar\"' " + quoted(wav));
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.errorLines(), 1);
    EXPECT_EQ(r.err.rfind("crestline-meter: --set imagerMode: expected one of polarSample, lissajous", 0), 0u) << r.err;

    if (previous != nullptr) {
        setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_EQ(fixtures::readFile(file), "{\"scopeWindow\": \"s1\", \"window1\": \"history\"}");
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}
