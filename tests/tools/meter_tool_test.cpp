// crestline-meter's pieces, then the built tool on files made here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "tests/tools/tool_run.h"
#include "tools/meter/reading_json.h"

using namespace crestline;
using namespace crestline::meter_tool;
using namespace crestline::tools_test;
using nlohmann::json;
using CrestlineMeter = ToolTest;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(ReadingJson, LevelsAreNumbersInOrderAndMissingValuesNull) {
    MeterReport report;  // sources other than files name themselves; names need not be UTF-8
    report.originKey = "source";
    report.origin = std::string("bad\xff name");
    report.sampleRate = 44100.0;
    report.reading.momentary = -23.5;
    report.reading.correlation = std::nan("");
    report.samplePeak = PeakLevels{-1.5, -kInf};
    const std::string line = formatReport(report);
    const auto ordered = nlohmann::ordered_json::parse(line);
    std::vector<std::string> keys;
    for (const auto& item : ordered.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"source", "sampleRate", "frames", "momentary", "shortTerm", "integrated",
                                              "loudnessRange", "truePeak", "shortTermPeak", "overs", "correlation",
                                              "samplePeak", "maxMomentary", "maxShortTerm"}));
    const json j = json::parse(line);
    EXPECT_EQ(j["sampleRate"], 44100);
    EXPECT_EQ(j["momentary"], -23.5);
    EXPECT_TRUE(j["integrated"].is_null());
    EXPECT_TRUE(j["correlation"].is_null());
    EXPECT_EQ(j["samplePeak"], json::parse("[-1.5, null]"));
}

TEST_F(CrestlineMeter, StereoWavGivesPeriodicObjectsThenTheFinalOne) {
    const fs::path wav = dir_ / "tone.wav";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 5 + 100,
               [](int i, int c) { return sineAt(c == 0 ? -23.0 : -29.0, 1000.0, 48000, i); });
    const ToolRun r = run("crestline-meter", "--every 2 " + quoted(wav));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");  // no progress line: short file, and stderr is no terminal
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t k = 0; k < 2; ++k) {
        const json j = json::parse(lines[k]);
        EXPECT_NEAR(j["t"].get<double>(), 2.0 * static_cast<double>(k + 1), 0.011);
        EXPECT_FALSE(j.contains("file") || j.contains("samplePeak"));
    }
    const json j = json::parse(lines[2]);
    EXPECT_EQ(j["file"], wav.string());
    EXPECT_FALSE(j.contains("t"));
    EXPECT_EQ(j["sampleRate"], 48000);
    EXPECT_EQ(j["frames"], 240100);
    const double expected = 10.0 * std::log10((std::pow(10.0, -2.3) + std::pow(10.0, -2.9)) / 2.0);
    EXPECT_NEAR(j["integrated"].get<double>(), expected, 0.1);
    EXPECT_NEAR(j["maxShortTerm"].get<double>(), expected, 0.1);
    EXPECT_NEAR(j["truePeak"].get<double>(), -23.0, 0.1);
    EXPECT_TRUE(j["loudnessRange"].is_null());
    EXPECT_NEAR(j["correlation"].get<double>(), 1.0, 1e-6);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -29.0, 0.01);
    // An interval shorter than a block: an object after every block of 512 frames, then the final one.
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 512 * 10, [](int, int) { return 0.5f; });
    EXPECT_EQ(run("crestline-meter", "--every 1e-300 " + quoted(wav)).lines().size(), 11u);
}

TEST_F(CrestlineMeter, MonoFeedsBothChannelsEveryChannelCountsAndNonFiniteSamplesAreZero) {
    const fs::path flac = dir_ / "mono.flac", quad = dir_ / "quad.wav", nan = dir_ / "nan.wav", gap = dir_ / "gap.wav";
    writeAudio(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 1, 44100 * 3,
               [](int i, int) { return sineAt(-20.0, 1000.0, 44100, i); });
    writeAudio(quad, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 37800, 4, 37800 * 2, [](int i, int c) {  // an odd rate
        if (c == 3 && i == 500) return std::nanf("");
        return sineAt(c == 0 ? -12.0 : c == 1 ? -18.0 : -6.0, 500.0, 37800, i);
    });
    writeAudio(nan, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 4, [](int i, int c) {
        if (i == 1000 && c == 0) return std::nanf("");
        return i == 2000 && c == 1 ? std::numeric_limits<float>::infinity() : sineAt(-23.0, 1000.0, 48000, i);
    });
    writeAudio(gap, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 2, 16000 * 18, [](int i, int) {
        return i < 16000 * 6 ? sineAt(-10.0, 1000.0, 16000, i) : i < 16000 * 10 ? 0.0f : sineAt(-30.0, 1000.0, 16000, i);
    });
    const ToolRun r = run("crestline-meter", quoted(flac) + " " + quoted(quad) + " " + quoted(nan) + " " + quoted(gap));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 4u);
    json j = json::parse(lines[0]);
    EXPECT_EQ(j["sampleRate"], 44100);
    EXPECT_NEAR(j["shortTerm"].get<double>(), -20.0, 0.1);
    EXPECT_NEAR(j["samplePeak"][0].get<double>(), -20.0, 0.01);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -20.0, 0.01);
    j = json::parse(lines[1]);
    EXPECT_EQ(j["sampleRate"], 37800);
    EXPECT_EQ(j["frames"], 75600);
    EXPECT_EQ(j["channels"], json::parse(R"(["FL","FR","BL","BR"])"));  // the usual order of four
    EXPECT_NEAR(j["samplePeak"][0].get<double>(), -12.0, 0.01);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -18.0, 0.01);
    EXPECT_NEAR(j["samplePeak"][3].get<double>(), -6.0, 0.01);
    EXPECT_NEAR(j["truePeak"].get<double>(), -6.0, 0.1);  // the largest of any channel
    EXPECT_GT(j["integrated"].get<double>(), -12.0);  // the surrounds count
    j = json::parse(lines[2]);
    EXPECT_NEAR(j["integrated"].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -23.0, 0.01);
    // After four seconds of silence the measurement starts over, unless told not to.
    EXPECT_NEAR(json::parse(lines[3])["integrated"].get<double>(), -30.0, 0.3);
    const auto off = run("crestline-meter", "--no-auto-reset " + quoted(gap)).lines();
    ASSERT_EQ(off.size(), 1u);
    const json kept = json::parse(off[0]);
    EXPECT_NEAR(kept["integrated"].get<double>(), -10.0, 0.5);  // the loud part stays
    EXPECT_NEAR(kept["maxMomentary"].get<double>(), -10.0, 0.1);
    EXPECT_NEAR(kept["momentary"].get<double>(), -30.0, 0.1);
}

TEST_F(CrestlineMeter, BadInputGetsOneLineOnStderrAndTheOtherFilesAreStillMetered) {
    const fs::path corrupt = dir_ / "corrupt.wav", truncated = dir_ / "truncated.flac", low = dir_ / "low.wav";
    const fs::path good = dir_ / "good.aiff", png = dir_ / "missing" / "bar.png";
    fixtures::writeFile(corrupt, "RIFF\x10\x00\x00\x00WAVEfmt garbage that is no audio at all");
    writeAudio(truncated, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 48000, [](int, int) { return 0.5f; });
    fs::resize_file(truncated, 40);  // inside the header
    writeAudio(low, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4000, 1, 4000, [](int, int) { return 0.1f; });
    writeAudio(good, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 96000, 2, 96000, [](int, int) { return 0.25f; });
    // The arguments, what the line names, and why.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {quoted(corrupt), corrupt.string(), "not a readable audio file"},
        {quoted(truncated), truncated.string(), "not a readable audio file"},
        {quoted(dir_ / "missing.wav"), (dir_ / "missing.wav").string(), "No such file"},
        {quoted(dir_), dir_.string(), "is a directory"},
        {quoted(low), low.string(), "unsupported sample rate 4000 Hz"},
        {"--png " + quoted(png) + " " + quoted(good), png.string(), ""},
        {"--loud " + quoted(good), "", "unknown option --loud"},
    };
    for (const auto& [arguments, named, reason] : cases) {
        const ToolRun r = run("crestline-meter", arguments);
        EXPECT_EQ(r.code, 2) << arguments;
        if (named != png.string()) {
            EXPECT_EQ(r.out, "") << arguments;  // the picture comes after the readings
        }
        EXPECT_EQ(r.err.rfind("crestline-meter: " + (named.empty() ? "" : named + ": ") + reason, 0), 0u) << r.err;
        EXPECT_EQ(r.errorLines(), 1) << r.err;
    }
    EXPECT_EQ(run("crestline-meter", "").code, 2);

    const ToolRun r = run("crestline-meter", quoted(corrupt) + " " + quoted(good) + " " + quoted(dir_ / "gone.wav"));
    EXPECT_EQ(r.code, 1);
    ASSERT_EQ(r.lines().size(), 1u);
    EXPECT_EQ(json::parse(r.lines()[0])["sampleRate"], 96000);
    EXPECT_EQ(r.errorLines(), 2) << r.err;
}

TEST_F(CrestlineMeter, ThePictureOfTheBarComesInEveryLayoutHeightAndScale) {
    const fs::path wav = dir_ / "sine.wav";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000,
               [](int i, int) { return sineAt(-6.0, 1000.0, 48000, i); });
    // The size options (none: 900 x 36 points at scale 2) and the picture's
    // pixels; the scope, the history and the meter fit from 1200 points.
    for (const auto& [options, pixels] : std::vector<std::pair<std::string, std::string>>{
             {"--width 1200", "2400x72"}, {"--width 1200 --height 36 --scale 1", "1200x36"},
             {"--width 1200 --height 80 --scale 2", "2400x160"}, {"--width 1200 --height 150 --scale 1.5", "1800x225"},
             {"--width 1200 --height 400 --scale 1 --theme scope", "1200x400"}}) {
        const ToolRun r = run("crestline-meter", "--png " + quoted(dir_ / "bar.png") + " " + options + " " + quoted(wav));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");  // no noise from the drawing layer
        EXPECT_EQ(pngSize(dir_ / "bar.png"), pixels) << options;
        EXPECT_NE(r.out.find("\"integrated\":"), std::string::npos);  // the readings still come out
        fs::remove(dir_ / "bar.png");
    }
}

TEST_F(CrestlineMeter, DemoSignalIsMusicLikeAndPeaksBelowFullScale) {
    const fs::path demo = dir_ / "demo.wav";
    ToolRun r = run("crestline-demo", quoted(demo));
    ASSERT_EQ(r.code, 0) << r.err;
    r = run("crestline-meter", "--every 1 " + quoted(demo));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_EQ(lines.size(), 9u);
    const json j = json::parse(lines.back());
    EXPECT_EQ(j["frames"], 8 * 48000);
    EXPECT_LT(j["truePeak"].get<double>(), 0.0);
    EXPECT_GT(j["integrated"].get<double>(), -30.0);
    EXPECT_LT(j["integrated"].get<double>(), -8.0);
    EXPECT_LT(j["correlation"].get<double>(), 0.99);  // some stereo width
    EXPECT_GT(j["maxMomentary"].get<double>() - json::parse(lines[0])["momentary"].get<double>(), 3.0);

    r = run("crestline-demo", quoted(dir_ / "short.flac") + " --seconds 2.5");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(json::parse(run("crestline-meter", quoted(dir_ / "short.flac")).lines().at(0))["frames"], 120000);
    for (const std::string& bad : std::vector<std::string>{"", "--seconds 0 " + quoted(demo), quoted(demo) + " --bogus",
                                                           quoted(dir_ / "no" / "such" / "dir.wav")}) {
        r = run("crestline-demo", bad);
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_EQ(r.errorLines(), 1) << bad;
    }
}
