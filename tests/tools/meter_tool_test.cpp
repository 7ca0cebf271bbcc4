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

TEST(MeterOptions, ParsesTheIntervalTheSwitchAndTheFilesAndRefusesTheRest) {
    ParsedOptions p = parse({"--every", "2.5", "a.wav", "--no-auto-reset", "--", "--odd.wav"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->every, 2.5);
    EXPECT_FALSE(p.options->autoReset);
    EXPECT_EQ(p.options->files, (std::vector<std::string>{"a.wav", "--odd.wav"}));
    p = parse({"--every=0.01", "x.wav"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_EQ(p.options->every, 0.01);
    EXPECT_TRUE(p.options->autoReset);

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--loud", "a.wav"}, {"a.wav", "--every"}, {"--every", "0", "a.wav"}, {"--every", "-1", "a.wav"},
             {"--every", "1x", "a.wav"}, {"--every", "inf", "a.wav"}, {"--every", "nan", "a.wav"},
             {"--every=", "a.wav"}, {"--no-auto-reset=1", "a.wav"}, {}, {"--no-auto-reset"}}) {
        p = parse(args);
        EXPECT_FALSE(p.options) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(p.error.empty());
    }
    EXPECT_NE(parse({"--loud", "a.wav"}).error.find("unknown option --loud"), std::string::npos);
}

TEST(ReadingJson, LevelsAreNumbersInOrderAndMissingValuesNull) {
    MeterReport report;
    report.originKey = "file";
    report.origin = "take 1.wav";
    report.sampleRate = 44100.0;
    report.reading.momentary = -23.5;
    report.reading.correlation = std::nan("");
    report.samplePeak = PeakLevels{-1.5, -kInf};
    const std::string line = formatReport(report);
    std::size_t at = 0;
    for (const char* key : {"file", "sampleRate", "frames", "momentary", "shortTerm", "integrated", "loudnessRange",
                            "truePeak", "shortTermPeak", "overs", "correlation", "samplePeak", "maxMomentary",
                            "maxShortTerm"}) {
        const std::size_t found = line.find("\"" + std::string(key) + "\":");
        ASSERT_NE(found, std::string::npos) << key;
        EXPECT_GE(found, at) << key;
        at = found;
    }
    const json j = json::parse(line);
    EXPECT_EQ(j["sampleRate"], 44100);
    EXPECT_EQ(j["momentary"], -23.5);
    EXPECT_TRUE(j["integrated"].is_null());
    EXPECT_TRUE(j["correlation"].is_null());
    EXPECT_EQ(j["samplePeak"], json::parse("[-1.5, null]"));

    MeterReport periodic;  // "t", no origin, no sample peak; other sources name themselves
    periodic.t = 2.0;
    const json p = json::parse(formatReport(periodic));
    EXPECT_EQ(p["t"], 2.0);
    EXPECT_FALSE(p.contains("file") || p.contains("samplePeak"));
    periodic.originKey = "source";
    periodic.origin = std::string("bad\xff name");  // not UTF-8: replaced, not thrown
    EXPECT_TRUE(json::parse(formatReport(periodic)).contains("source"));
}

TEST(MeterSession, TracksTheMaximaAndEmitsAfterEveryBlockForAShortInterval) {
    int count = 0;
    MeterSession session(true, 1e-300, [&](const MeterReport& r) {
        ++count;
        EXPECT_FALSE(r.samplePeak);
    });
    EXPECT_FALSE(session.start(4000.0));
    ASSERT_TRUE(session.start(48000.0));
    std::vector<float> loud(512), quiet(512);
    for (int i = 0; i < 512; ++i) {
        loud[static_cast<std::size_t>(i)] = sineAt(-10.0, 1000.0, 48000, i);
        quiet[static_cast<std::size_t>(i)] = sineAt(-30.0, 1000.0, 48000, i);
    }
    for (int b = 0; b < 330; ++b) session.feed(b < 188 ? loud.data() : quiet.data(), quiet.data(), 512);
    EXPECT_EQ(count, 330);
    const MeterReport final = session.finish("file", "x.wav");
    EXPECT_EQ(final.frames, 330 * 512);
    EXPECT_NEAR(final.maxMomentary, 10.0 * std::log10((0.1 + 0.001) / 2.0), 0.1);  // −10, −30 dBFS
    EXPECT_LT(final.reading.momentary, final.maxMomentary - 10.0);
    EXPECT_NEAR(final.samplePeak->left, -10.0, 0.01);
}

TEST_F(MeterToolRun, StereoWavGivesPeriodicObjectsThenTheFinalOne) {
    const fs::path wav = dir_ / "tone.wav";
    writeAudio(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 5 + 100,
               [](int i, int c) { return sineAt(c == 0 ? -23.0 : -29.0, 1000.0, 48000, i); });
    const ToolRun r = run("crestline-meter", "--every 2 " + quoted(wav));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.errors, "");  // no progress line: short file, and stderr is no terminal
    ASSERT_EQ(r.lines.size(), 3u);
    for (std::size_t k = 0; k < 2; ++k) {
        const json j = json::parse(r.lines[k]);
        EXPECT_NEAR(j["t"].get<double>(), 2.0 * static_cast<double>(k + 1), 0.011);
        EXPECT_FALSE(j.contains("file") || j.contains("samplePeak"));
    }
    const json j = json::parse(r.lines[2]);
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
}

TEST_F(MeterToolRun, MonoFeedsBothChannelsBeyondTwoOnlyTheFirstTwoCountAndNonFiniteSamplesAreZero) {
    const fs::path flac = dir_ / "mono.flac", quad = dir_ / "quad.wav", nan = dir_ / "nan.wav", gap = dir_ / "gap.wav";
    writeAudio(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 1, 44100 * 3,
               [](int i, int) { return sineAt(-20.0, 1000.0, 44100, i); });
    writeAudio(quad, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 37800, 4, 37800 * 2,  // an odd rate
               [](int i, int c) { return c < 2 ? sineAt(c == 0 ? -12.0 : -18.0, 500.0, 37800, i) : 0.9f; });
    writeAudio(nan, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 4, [](int i, int c) {
        if (i == 1000 && c == 0) return std::nanf("");
        return i == 2000 && c == 1 ? std::numeric_limits<float>::infinity() : sineAt(-23.0, 1000.0, 48000, i);
    });
    writeAudio(gap, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 2, 16000 * 18, [](int i, int) {
        return i < 16000 * 6 ? sineAt(-10.0, 1000.0, 16000, i) : i < 16000 * 10 ? 0.0f : sineAt(-30.0, 1000.0, 16000, i);
    });
    const ToolRun r = run("crestline-meter", quoted(flac) + " " + quoted(quad) + " " + quoted(nan) + " " + quoted(gap));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    ASSERT_EQ(r.lines.size(), 4u);
    json j = json::parse(r.lines[0]);
    EXPECT_EQ(j["sampleRate"], 44100);
    EXPECT_NEAR(j["shortTerm"].get<double>(), -20.0, 0.1);
    EXPECT_NEAR(j["samplePeak"][0].get<double>(), -20.0, 0.01);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -20.0, 0.01);
    j = json::parse(r.lines[1]);
    EXPECT_EQ(j["sampleRate"], 37800);
    EXPECT_EQ(j["frames"], 75600);
    EXPECT_NEAR(j["samplePeak"][0].get<double>(), -12.0, 0.01);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -18.0, 0.01);
    EXPECT_LT(j["truePeak"].get<double>(), -11.0);
    j = json::parse(r.lines[2]);
    EXPECT_NEAR(j["integrated"].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(j["samplePeak"][1].get<double>(), -23.0, 0.01);
    // After four seconds of silence the measurement starts over, unless told not to.
    EXPECT_NEAR(json::parse(r.lines[3])["integrated"].get<double>(), -30.0, 0.3);
    const ToolRun off = run("crestline-meter", "--no-auto-reset " + quoted(gap));
    ASSERT_EQ(off.lines.size(), 1u);
    EXPECT_NEAR(json::parse(off.lines[0])["integrated"].get<double>(), -10.0, 0.5);  // the loud part stays
}

TEST_F(MeterToolRun, BadInputGetsOneLineOnStderrAndTheOtherFilesAreStillMetered) {
    const fs::path corrupt = dir_ / "corrupt.wav", truncated = dir_ / "truncated.flac", low = dir_ / "low.wav";
    std::ofstream(corrupt) << "RIFF\x10\x00\x00\x00WAVEfmt garbage that is no audio at all";
    writeAudio(truncated, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 48000, [](int, int) { return 0.5f; });
    fs::resize_file(truncated, 40);  // inside the header
    writeAudio(low, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4000, 1, 4000, [](int, int) { return 0.1f; });
    const std::pair<fs::path, std::string> cases[] = {
        {corrupt, "not a readable audio file"}, {truncated, "not a readable audio file"},
        {dir_ / "missing.wav", "No such file"}, {dir_, "is a directory"},
        {low, "unsupported sample rate 4000 Hz"},
    };
    for (const auto& [path, reason] : cases) {
        const ToolRun r = run("crestline-meter", quoted(path));
        EXPECT_EQ(r.exitCode, 2) << path;
        EXPECT_TRUE(r.lines.empty()) << path;
        EXPECT_EQ(r.errors.find("crestline-meter: " + path.string() + ": "), 0u) << r.errors;
        EXPECT_NE(r.errors.find(reason), std::string::npos) << r.errors;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
    }
    ToolRun r = run("crestline-meter", "--loud " + quoted(low));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_EQ(r.errors.rfind("crestline-meter: unknown option --loud", 0), 0u) << r.errors;
    EXPECT_EQ(run("crestline-meter", "").exitCode, 2);

    const fs::path good = dir_ / "good.aiff";
    writeAudio(good, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 96000, 2, 96000, [](int, int) { return 0.25f; });
    r = run("crestline-meter", quoted(corrupt) + " " + quoted(good) + " " + quoted(dir_ / "gone.wav"));
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(json::parse(r.lines[0])["sampleRate"], 96000);
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 2) << r.errors;
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
    EXPECT_GT(j["integrated"].get<double>(), -30.0);
    EXPECT_LT(j["integrated"].get<double>(), -8.0);
    EXPECT_LT(j["correlation"].get<double>(), 0.99);  // some stereo width
    EXPECT_GT(j["maxMomentary"].get<double>() - json::parse(r.lines[0])["momentary"].get<double>(), 3.0);

    r = run("crestline-demo", quoted(dir_ / "short.flac") + " --seconds 2.5");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(json::parse(run("crestline-meter", quoted(dir_ / "short.flac")).lines.at(0))["frames"], 120000);
    for (const std::string& bad : std::vector<std::string>{"", "--seconds 0 " + quoted(demo), quoted(demo) + " --bogus",
                                                           quoted(dir_ / "no" / "such" / "dir.wav")}) {
        r = run("crestline-demo", bad);
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << bad;
    }
}
