#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "tools/meter/meter_options.h"
#include "tools/meter/meter_session.h"
#include "tools/meter/reading_json.h"

using namespace crestline;
using namespace crestline::meter_tool;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

ParsedOptions parse(std::vector<std::string> args) { return parseMeterOptions(args); }

// Channel c of frame i, written as floats through libsndfile.
template <class Sample>
void writeAudio(const fs::path& path, int format, int rate, int channels, int frames, Sample sample) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> data(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) data[static_cast<std::size_t>(i * channels + c)] = sample(i, c);
    }
    ASSERT_EQ(sf_writef_float(f, data.data(), frames), frames);
    sf_close(f);
}

float sineAt(double dbfs, double frequency, int rate, int i) {
    return static_cast<float>(std::pow(10.0, dbfs / 20.0) *
                              std::sin(2.0 * std::numbers::pi * frequency * i / static_cast<double>(rate)));
}

struct ToolRun {
    int exitCode = -1;
    std::vector<std::string> lines;  // stdout
    std::string errors;              // stderr
};

class MeterToolRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("CRESTLINE_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        bin_ = bin;
        dir_ = fs::temp_directory_path() / ("crestline-meter-test-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun run(const std::string& tool, const std::string& arguments) {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const std::string command = "'" + (bin_ / tool).string() + "' " + arguments + " >'" + out.string() +
                                    "' 2>'" + err.string() + "' </dev/null";
        const int status = std::system(command.c_str());
        ToolRun r;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream o(out);
        for (std::string line; std::getline(o, line);) r.lines.push_back(line);
        std::stringstream e;
        e << std::ifstream(err).rdbuf();
        r.errors = e.str();
        return r;
    }

    std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

    fs::path bin_;
    fs::path dir_;
};

}  // namespace

TEST(MeterOptions, ParsesTheIntervalTheSwitchAndTheFiles) {
    ParsedOptions p = parse({"--every", "2.5", "a.wav", "--no-auto-reset", "b.flac"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->every, 2.5);
    EXPECT_FALSE(p.options->autoReset);
    EXPECT_EQ(p.options->files, (std::vector<std::string>{"a.wav", "b.flac"}));

    p = parse({"--every=0.01", "--", "--odd-name.wav", "-"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->every, 0.01);
    EXPECT_TRUE(p.options->autoReset);
    EXPECT_EQ(p.options->files, (std::vector<std::string>{"--odd-name.wav", "-"}));

    p = parse({"x.wav"});
    ASSERT_TRUE(p.options);
    EXPECT_FALSE(p.options->every);
    EXPECT_TRUE(parse({"--help"}).options->help);
}

TEST(MeterOptions, RefusesUnknownOptionsBadIntervalsAndNoFiles) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--loud", "a.wav"}, {"-x", "a.wav"}, {"a.wav", "--every"}, {"--every", "0", "a.wav"},
             {"--every", "-1", "a.wav"}, {"--every", "abc", "a.wav"}, {"--every", "1x", "a.wav"},
             {"--every", "inf", "a.wav"}, {"--every", "nan", "a.wav"}, {"--every=", "a.wav"},
             {"--no-auto-reset=1", "a.wav"}, {}, {"--no-auto-reset"}}) {
        const ParsedOptions p = parse(args);
        EXPECT_FALSE(p.options) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
    }
    EXPECT_NE(parse({"--loud", "a.wav"}).error.find("--loud"), std::string::npos);
}

TEST(ReadingJson, LevelsAreNumbersAndMissingValuesNull) {
    MeterReport report;
    report.originKey = "file";
    report.origin = "take 1.wav";
    report.sampleRate = 44100.0;
    report.frames = 441000;
    report.reading.momentary = -23.5;
    report.reading.integrated = -kInf;
    report.reading.correlation = std::nan("");
    report.reading.overs = 3;
    report.maxMomentary = -20.25;
    report.samplePeak = PeakLevels{-1.5, -kInf};
    const std::string line = formatReport(report);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const json j = json::parse(line);
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    // nlohmann's json sorts keys; the order on the line is checked on the text.
    const char* order[] = {"\"file\"", "\"sampleRate\"", "\"frames\"", "\"momentary\"", "\"shortTerm\"",
                           "\"integrated\"", "\"loudnessRange\"", "\"truePeak\"", "\"shortTermPeak\"",
                           "\"overs\"", "\"correlation\"", "\"samplePeak\"", "\"maxMomentary\"", "\"maxShortTerm\""};
    std::size_t at = 0;
    for (const char* key : order) {
        const std::size_t found = line.find(key);
        ASSERT_NE(found, std::string::npos) << key;
        EXPECT_GT(found, at) << key;
        at = found;
    }
    EXPECT_EQ(keys.size(), 14u);
    EXPECT_EQ(j["file"], "take 1.wav");
    EXPECT_EQ(j["sampleRate"], 44100);
    EXPECT_EQ(j["momentary"], -23.5);
    EXPECT_TRUE(j["integrated"].is_null());
    EXPECT_TRUE(j["correlation"].is_null());
    EXPECT_TRUE(j["maxShortTerm"].is_null());
    EXPECT_EQ(j["overs"], 3);
    EXPECT_EQ(j["samplePeak"][0], -1.5);
    EXPECT_TRUE(j["samplePeak"][1].is_null());

    // A periodic reading: "t" and no file, no sample peak; other sources name themselves.
    MeterReport periodic;
    periodic.t = 2.0;
    const json p = json::parse(formatReport(periodic));
    EXPECT_EQ(p["t"], 2.0);
    EXPECT_FALSE(p.contains("file"));
    EXPECT_FALSE(p.contains("samplePeak"));
    periodic.originKey = "source";
    periodic.origin = "Ableton Live";
    EXPECT_EQ(json::parse(formatReport(periodic))["source"], "Ableton Live");

    // Bytes that are not UTF-8 in a path do not break the line.
    report.origin = std::string("bad\xff name.wav");
    EXPECT_TRUE(json::accept(formatReport(report)));
}

TEST(MeterSession, EmitsAfterEveryIntervalOfAudioAndTracksTheMaxima) {
    std::vector<MeterReport> periodic;
    MeterSession session(true, 1.0, [&](const MeterReport& r) { periodic.push_back(r); });
    EXPECT_FALSE(session.start(4000.0));
    ASSERT_TRUE(session.start(48000.0));
    std::vector<float> loud(512), quiet(512);
    for (int i = 0; i < 512; ++i) {
        loud[static_cast<std::size_t>(i)] = sineAt(-10.0, 1000.0, 48000, i);
        quiet[static_cast<std::size_t>(i)] = sineAt(-30.0, 1000.0, 48000, i);
    }
    // 2 s loud, then 1.5 s quiet, in 512-frame blocks.
    long long frames = 0;
    while (frames < 96000) {
        session.feed(loud.data(), loud.data(), 512);
        frames += 512;
    }
    while (frames < 168000) {
        session.feed(quiet.data(), quiet.data(), 512);
        frames += 512;
    }
    ASSERT_EQ(periodic.size(), 3u);
    for (std::size_t k = 0; k < periodic.size(); ++k) {
        EXPECT_GE(*periodic[k].t, static_cast<double>(k + 1));
        EXPECT_LT(*periodic[k].t, static_cast<double>(k + 1) + 512.0 / 48000.0);
        EXPECT_FALSE(periodic[k].samplePeak);
        EXPECT_TRUE(periodic[k].originKey.empty());
    }
    const MeterReport final = session.finish("file", "x.wav");
    EXPECT_EQ(final.frames, frames);
    EXPECT_NEAR(final.maxMomentary, -10.0, 0.1);
    EXPECT_NEAR(final.maxShortTerm, -10.0, 0.2);
    EXPECT_NEAR(final.reading.momentary, -30.0, 0.1);
    ASSERT_TRUE(final.samplePeak);
    EXPECT_NEAR(final.samplePeak->left, -10.0, 0.01);

    // An interval shorter than a block emits after every block.
    int count = 0;
    MeterSession fine(true, 0.001, [&](const MeterReport&) { ++count; });
    ASSERT_TRUE(fine.start(48000.0));
    for (int b = 0; b < 5; ++b) fine.feed(loud.data(), loud.data(), 512);
    EXPECT_EQ(count, 5);
}

TEST_F(MeterToolRun, StereoWavGivesOneFinalObjectWithTheReadings) {
    const fs::path wav = dir_ / "tone.wav";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 5,
               [](int i, int) { return sineAt(-23.0, 1000.0, 48000, i); });
    const ToolRun r = run("crestline-meter", quoted(wav));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.errors, "");  // no progress line: short file, and stderr is no terminal
    ASSERT_EQ(r.lines.size(), 1u);
    const json j = json::parse(r.lines[0]);
    EXPECT_EQ(j["file"], wav.string());
    EXPECT_EQ(j["sampleRate"], 48000);
    EXPECT_EQ(j["frames"], 240000);
    EXPECT_NEAR(j["integrated"].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(j["momentary"].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(j["truePeak"].get<double>(), -23.0, 0.1);
    EXPECT_TRUE(j["loudnessRange"].is_null());
    EXPECT_NEAR(j["correlation"].get<double>(), 1.0, 1e-9);
    EXPECT_NEAR(j["samplePeak"][0].get<double>(), -23.0, 0.01);
    EXPECT_NEAR(j["maxShortTerm"].get<double>(), -23.0, 0.1);
}

TEST_F(MeterToolRun, MonoFlacFeedsBothChannelsAndExtraChannelsAreIgnored) {
    const fs::path flac = dir_ / "mono.flac";
    writeAudio(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 1, 44100 * 3,
               [](int i, int) { return sineAt(-20.0, 1000.0, 44100, i); });
    ToolRun r = run("crestline-meter", quoted(flac));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ASSERT_EQ(r.lines.size(), 1u);
    json j = json::parse(r.lines[0]);
    EXPECT_EQ(j["sampleRate"], 44100);
    EXPECT_NEAR(j["correlation"].get<double>(), 1.0, 1e-6);
    EXPECT_NEAR(j["samplePeak"][0].get<double>(), -20.0, 0.01);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -20.0, 0.01);
    EXPECT_NEAR(j["shortTerm"].get<double>(), -20.0, 0.1);

    // Four channels at an odd rate: the first two are metered, the loud rest is not.
    const fs::path quad = dir_ / "quad.wav";
    writeAudio(quad, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 37800, 4, 37800 * 2, [](int i, int c) {
        if (c == 0) return sineAt(-12.0, 500.0, 37800, i);
        if (c == 1) return sineAt(-18.0, 500.0, 37800, i);
        return 0.9f;
    });
    r = run("crestline-meter", quoted(quad));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ASSERT_EQ(r.lines.size(), 1u);
    j = json::parse(r.lines[0]);
    EXPECT_EQ(j["sampleRate"], 37800);
    EXPECT_EQ(j["frames"], 75600);
    EXPECT_NEAR(j["samplePeak"][0].get<double>(), -12.0, 0.01);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -18.0, 0.01);
    EXPECT_LT(j["truePeak"].get<double>(), -11.0);
}

TEST_F(MeterToolRun, EveryPrintsPeriodicObjectsBeforeTheFinalOne) {
    const fs::path wav = dir_ / "tone.wav";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 48000 * 3 + 100,
               [](int i, int c) { return sineAt(c == 0 ? -20.0 : -26.0, 440.0, 48000, i); });
    const ToolRun r = run("crestline-meter", "--every 1 " + quoted(wav));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ASSERT_EQ(r.lines.size(), 4u);
    double lastT = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        const json j = json::parse(r.lines[k]);
        EXPECT_FALSE(j.contains("file"));
        EXPECT_FALSE(j.contains("samplePeak"));
        EXPECT_GT(j["t"].get<double>(), lastT);
        lastT = j["t"].get<double>();
        EXPECT_NEAR(lastT, static_cast<double>(k + 1), 0.011);
    }
    const json last = json::parse(r.lines[3]);
    EXPECT_EQ(last["file"], wav.string());
    EXPECT_FALSE(last.contains("t"));
    EXPECT_EQ(last["frames"], 144100);
}

TEST_F(MeterToolRun, NoAutoResetKeepsTheLoudPassageInTheGate) {
    const fs::path wav = dir_ / "gap.wav";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 2, 16000 * 18, [](int i, int) {
        if (i < 16000 * 6) return sineAt(-10.0, 1000.0, 16000, i);
        if (i < 16000 * 10) return 0.0f;
        return sineAt(-30.0, 1000.0, 16000, i);
    });
    const ToolRun on = run("crestline-meter", quoted(wav));
    const ToolRun off = run("crestline-meter", "--no-auto-reset " + quoted(wav));
    ASSERT_EQ(on.lines.size(), 1u);
    ASSERT_EQ(off.lines.size(), 1u);
    EXPECT_NEAR(json::parse(on.lines[0])["integrated"].get<double>(), -30.0, 0.3);
    EXPECT_NEAR(json::parse(off.lines[0])["integrated"].get<double>(), -10.0, 0.5);
}

TEST_F(MeterToolRun, NonFiniteSamplesInAFloatFileDoNotPoisonTheReadings) {
    const fs::path wav = dir_ / "nan.wav";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 4, [](int i, int c) {
        if (i == 1000 && c == 0) return std::nanf("");
        if (i == 2000 && c == 1) return std::numeric_limits<float>::infinity();
        return sineAt(-23.0, 1000.0, 48000, i);
    });
    const ToolRun r = run("crestline-meter", quoted(wav));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ASSERT_EQ(r.lines.size(), 1u);
    const json j = json::parse(r.lines[0]);
    EXPECT_NEAR(j["integrated"].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -23.0, 0.01);
}

TEST_F(MeterToolRun, BadInputGetsOneLineOnStderrAndExitCodeTwo) {
    const fs::path corrupt = dir_ / "corrupt.wav";
    std::ofstream(corrupt) << "RIFF\x10\x00\x00\x00WAVEfmt garbage that is no audio at all";
    const fs::path truncated = dir_ / "truncated.flac";
    {
        const fs::path good = dir_ / "good.flac";
        writeAudio(good, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 48000,
                   [](int i, int) { return sineAt(-6.0, 1000.0, 48000, i); });
        fs::copy_file(good, truncated);
        fs::resize_file(truncated, 40);  // inside the header
        fs::remove(good);
    }
    const fs::path lowRate = dir_ / "low.wav";
    writeAudio(lowRate, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4000, 1, 4000, [](int, int) { return 0.1f; });

    const std::pair<fs::path, std::string> cases[] = {
        {corrupt, "not a readable audio file"},
        {truncated, "not a readable audio file"},
        {dir_ / "missing.wav", "No such file"},
        {dir_, "is a directory"},
        {lowRate, "unsupported sample rate 4000 Hz"},
    };
    for (const auto& [path, reason] : cases) {
        const ToolRun r = run("crestline-meter", quoted(path));
        EXPECT_EQ(r.exitCode, 2) << path;
        EXPECT_TRUE(r.lines.empty()) << path;
        EXPECT_EQ(r.errors.find("crestline-meter: " + path.string() + ": "), 0u) << r.errors;
        EXPECT_NE(r.errors.find(reason), std::string::npos) << r.errors;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
    }

    const ToolRun unknown = run("crestline-meter", "--loud " + quoted(lowRate));
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.lines.empty());
    EXPECT_NE(unknown.errors.find("unknown option --loud"), std::string::npos);
    EXPECT_EQ(std::count(unknown.errors.begin(), unknown.errors.end(), '\n'), 1);
    EXPECT_EQ(run("crestline-meter", "").exitCode, 2);
}

TEST_F(MeterToolRun, SeveralFilesAreAllMeteredAndOneFailureGivesExitCodeOne) {
    const fs::path a = dir_ / "a.wav", b = dir_ / "b.aiff";
    writeAudio(a, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000, [](int i, int) { return sineAt(-20.0, 1000.0, 48000, i); });
    writeAudio(b, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 96000, 2, 96000, [](int i, int) { return sineAt(-25.0, 1000.0, 96000, i); });
    ToolRun r = run("crestline-meter", quoted(a) + " " + quoted(dir_ / "gone.wav") + " " + quoted(b));
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(json::parse(r.lines[0])["file"], a.string());
    EXPECT_EQ(json::parse(r.lines[1])["sampleRate"], 96000);
    EXPECT_NE(r.errors.find("gone.wav"), std::string::npos);

    r = run("crestline-meter", quoted(a) + " " + quoted(b));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.lines.size(), 2u);
}

TEST_F(MeterToolRun, DemoSignalIsMusicLikeAndPeaksBelowFullScale) {
    const fs::path demo = dir_ / "demo.wav";
    ToolRun r = run("crestline-demo", quoted(demo));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    r = run("crestline-meter", "--every 1 " + quoted(demo));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ASSERT_EQ(r.lines.size(), 9u);
    const json j = json::parse(r.lines.back());
    EXPECT_EQ(j["frames"], 8 * 48000);
    EXPECT_LT(j["truePeak"].get<double>(), 0.0);
    EXPECT_LT(j["samplePeak"][0].get<double>(), -1.0);
    EXPECT_GT(j["integrated"].get<double>(), -30.0);
    EXPECT_LT(j["integrated"].get<double>(), -8.0);
    // Some stereo width, and dynamics: a quieter first bar.
    EXPECT_LT(j["correlation"].get<double>(), 0.99);
    EXPECT_GT(j["maxMomentary"].get<double>() - json::parse(r.lines[0])["momentary"].get<double>(), 3.0);

    r = run("crestline-demo", quoted(dir_ / "short.flac") + " --seconds 2.5");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    r = run("crestline-meter", quoted(dir_ / "short.flac"));
    EXPECT_EQ(json::parse(r.lines.at(0))["frames"], 120000);

    for (const std::string& bad : std::vector<std::string>{"", "--seconds 0 " + quoted(demo), "--seconds x " + quoted(demo),
                                  quoted(demo) + " --bogus", quoted(dir_ / "no" / "such" / "dir.wav")}) {
        r = run("crestline-demo", bad);
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << bad;
    }
}
