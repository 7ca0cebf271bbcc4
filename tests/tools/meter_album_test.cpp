// crestline-meter --album and --target/--streaming through the built tool.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "analysis/loudness_reading.h"
#include "tests/tools/tool_run.h"
#include "tools/meter/loudness_targets.h"

using namespace crestline;
using namespace crestline::meter_tool;
using namespace crestline::tools_test;
using nlohmann::json;
using MeterAlbum = ToolTest;

namespace {

std::vector<json> objects(const ToolRun& r) {
    std::vector<json> out;
    for (const std::string& line : r.lines()) out.push_back(json::parse(line));
    return out;
}

}  // namespace

TEST_F(MeterAlbum, TheAlbumGatesEveryBlockOfEveryFileAsOneProgramme) {
    // A loud track, a quiet one (another rate, another format) and a loud
    // surround one: the relative gate of the whole drops the quiet track
    // from the integrated loudness, which neither averaging the values nor
    // the powers of the tracks does, and keeps it in the loudness range.
    const fs::path loud = dir_ / "1 loud.wav", quiet = dir_ / "2 quiet.flac", surround = dir_ / "3 surround.wav";
    writeAudio(loud, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 20,
               [](int i, int) { return sineAt(-20.0, 1000.0, 48000, i); });
    writeAudio(quiet, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 2, 44100 * 20,
               [](int i, int) { return sineAt(-35.0, 1000.0, 44100, i); });
    // 5.0, L R C at −23 dBFS, the surrounds at −26 and weighted 1.41: about −19.6 LUFS.
    writeAudio(surround, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 5, 48000 * 10,
               [](int i, int c) { return sineAt(c < 3 ? -23.0 : -26.0, 1000.0, 48000, i); });
    const ToolRun r = run("crestline-meter", "--album " + quoted(loud) + " " + quoted(quiet) + " " + quoted(surround));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto all = objects(r);
    ASSERT_EQ(all.size(), 4u);
    const json& album = all[3];
    EXPECT_EQ(album["album"], true);
    EXPECT_EQ(album["files"], 3);
    EXPECT_FALSE(album.contains("file") || album.contains("gains"));
    // Two thirds of the gated blocks at −20, one third at −17.8: the quiet file is gated out.
    const double surroundLufs = all[2]["integrated"].get<double>();
    EXPECT_NEAR(surroundLufs, 10.0 * std::log10(3.0 * std::pow(10.0, -2.6) + 2.0 * 1.41 * std::pow(10.0, -2.9)), 0.05);
    EXPECT_NEAR(album["integrated"].get<double>(),
                10.0 * std::log10((2.0 * std::pow(10.0, -2.0) + std::pow(10.0, surroundLufs / 10.0)) / 3.0), 0.05);
    // From the quiet track to the surround one.
    EXPECT_NEAR(album["loudnessRange"].get<double>(), surroundLufs + 35.0, 0.3);
    double truePeak = -100.0, momentary = -100.0, shortTerm = -100.0;
    for (std::size_t k = 0; k < 3; ++k) {
        truePeak = std::max(truePeak, all[k]["truePeak"].get<double>());
        momentary = std::max(momentary, all[k]["maxMomentary"].get<double>());
        shortTerm = std::max(shortTerm, all[k]["maxShortTerm"].get<double>());
    }
    EXPECT_EQ(album["truePeak"], truePeak);
    EXPECT_EQ(album["maxMomentary"], momentary);
    EXPECT_EQ(album["maxShortTerm"], shortTerm);

    // One file is an album of one: its own values, to the last bit.
    const auto one = objects(run("crestline-meter", "--album " + quoted(quiet)));
    ASSERT_EQ(one.size(), 2u);
    for (const char* key : {"integrated", "loudnessRange", "truePeak", "maxMomentary", "maxShortTerm"}) {
        EXPECT_EQ(one[1][key], one[0][key]) << key;
    }
    // A file that fails is left out of the count; the others still make the album.
    const ToolRun partly = run("crestline-meter", "--album " + quoted(loud) + " " + quoted(dir_ / "gone.wav"));
    EXPECT_EQ(partly.code, 1);
    ASSERT_EQ(partly.lines().size(), 2u);
    EXPECT_EQ(json::parse(partly.lines()[1])["files"], 1);
    const ToolRun none = run("crestline-meter", "--album " + quoted(dir_ / "gone.wav"));
    EXPECT_EQ(none.code, 2);
    EXPECT_EQ(none.out, "");
}

TEST_F(MeterAlbum, GainsTowardEachTargetSayWhetherTheTruePeakWouldPassTheCeiling) {
    const fs::path tone = dir_ / "tone.wav", silent = dir_ / "silent.wav";
    // −20 LUFS with its true peak at −20 dBTP.
    writeAudio(tone, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000 * 5,
               [](int i, int) { return sineAt(-20.0, 1000.0, 48000, i); });
    writeAudio(silent, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000, [](int, int) { return 0.0f; });
    const ToolRun r = run("crestline-meter", "--every 2 --streaming --target -2:-3 --target=-14 --album " +
                                                 quoted(tone) + " " + quoted(silent));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto all = objects(r);
    ASSERT_EQ(all.size(), 5u);  // two periodic lines, two files, the album
    EXPECT_FALSE(all[0].contains("gains"));
    const json& gains = all[2]["gains"];
    // Targets in the order given, −14 once; what would follow from each.
    ASSERT_EQ(gains.size(), 4u) << gains;
    const double integrated = all[2]["integrated"].get<double>(), peak = all[2]["truePeak"].get<double>();
    for (std::size_t k = 0; k < 4; ++k) {
        const double target = std::vector<double>{-14.0, -16.0, -23.0, -2.0}[k];
        const double ceiling = k == 3 ? -3.0 : -1.0;
        EXPECT_EQ(gains[k]["target"], target);
        EXPECT_EQ(gains[k]["ceiling"], ceiling);
        EXPECT_NEAR(gains[k]["gain"].get<double>(), target - integrated, 1e-12);
        EXPECT_NEAR(gains[k]["truePeak"].get<double>(), peak + target - integrated, 1e-12);
        EXPECT_EQ(gains[k]["aboveCeiling"], k == 3) << target;  // +18 dB takes −20 dBTP to −2, above −3
    }
    EXPECT_NEAR(gains[0]["gain"].get<double>(), 6.0, 0.1);
    // Silence has no loudness to bring anywhere.
    EXPECT_EQ(all[3]["gains"][0],
              json::parse(R"({"target":-14.0,"ceiling":-1.0,"gain":null,"truePeak":null,"aboveCeiling":null})"));
    // The album's gains follow from the album's values.
    EXPECT_EQ(all[4]["gains"][3]["gain"], -2.0 - all[4]["integrated"].get<double>());
}

TEST(LoudnessTargets, TextsOfTargetsAndTheGainsTheyAskFor) {
    // The text and the target it names ("" for none).
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
             {"-14", "-14/-1"}, {"-16:-1.5", "-16/-1.5"}, {"0", "0/-1"}, {"-70:0", "-70/0"}, {"-23.5:-2", "-23.5/-2"},
             {"1", ""}, {"-70.1", ""}, {"-14:0.5", ""}, {"-14:-31", ""}, {"-14:", ""}, {":-1", ""}, {"", ""},
             {" -14", ""}, {"-14 ", ""}, {"-14:-1:-1", ""}, {"nan", ""}, {"-inf", ""}, {"-14dB", ""}, {"\xff", ""}}) {
        const auto t = parseTarget(text);
        std::string got;
        if (t) {
            std::ostringstream out;
            out << t->lufs << "/" << t->ceiling;
            got = out.str();
        }
        EXPECT_EQ(got, expected) << "'" << text << "'";
    }
    const LoudnessTarget target{-14.0, -1.0};
    EXPECT_FALSE(gainToward(target, LoudnessReading::kNoValue, -3.0));
    const auto quiet = gainToward(target, -20.0, LoudnessReading::kNoValue);  // no peak: nothing to pass
    ASSERT_TRUE(quiet);
    EXPECT_FALSE(quiet->aboveCeiling);
    const auto hot = gainToward(target, -20.0, -3.0);
    ASSERT_TRUE(hot);
    EXPECT_EQ(hot->gain, 6.0);
    EXPECT_EQ(hot->truePeakAfter, 3.0);
    EXPECT_TRUE(hot->aboveCeiling);
    EXPECT_FALSE(gainToward(target, -20.0, -7.0)->aboveCeiling);  // exactly at the ceiling is within it
    EXPECT_TRUE(gainToward(target, -10.0, 3.5)->aboveCeiling);    // turning down 4 dB is not enough here
}
