#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/meter/meter_options.h"

using namespace crestline::meter_tool;

namespace {

ParsedOptions parse(std::vector<std::string> args) { return parseMeterOptions(args); }

}  // namespace

TEST(MeterCaptureOptions, CaptureTakesAPidSecondsAndTheUsualSwitches) {
    ParsedOptions p = parse({"--capture", "--pid", "4242", "--seconds=2.5", "--every", "1", "--no-auto-reset"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_TRUE(p.options->capture);
    EXPECT_EQ(p.options->pid, 4242);
    EXPECT_EQ(p.options->seconds, 2.5);
    EXPECT_EQ(p.options->every, 1.0);
    EXPECT_FALSE(p.options->autoReset);
    EXPECT_TRUE(p.options->files.empty());

    // Without a pid: all sound, for the default time.
    p = parse({"--capture"});
    ASSERT_TRUE(p.options) << p.error;
    EXPECT_FALSE(p.options->pid);
    EXPECT_FALSE(p.options->seconds);
}

TEST(MeterCaptureOptions, BadPidsSecondsAndMixturesAreRefusedWithOneLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--capture", "--pid", "0"}, {"--capture", "--pid", "-5"}, {"--capture", "--pid", "12a"},
             {"--capture", "--pid", "99999999999"}, {"--capture", "--pid", ""}, {"--capture", "--pid"},
             {"--capture", "--seconds", "0"}, {"--capture", "--seconds", "nan"}, {"--capture", "--seconds", "-1"},
             {"--capture", "--seconds=inf"}, {"--capture=1"}, {"--capture", "a.wav"}, {"--pid", "12", "a.wav"},
             {"--seconds", "3", "a.wav"}, {"--pid", "12"}, {"--capture", "--png", "bar.png"}}) {
        const ParsedOptions p = parse(args);
        EXPECT_FALSE(p.options) << args.back();
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
    }
    EXPECT_EQ(parse({"--capture", "x.wav"}).error, "--capture meters live sound and takes no file");
    EXPECT_EQ(parse({"--pid", "12", "x.wav"}).error, "--pid and --seconds go with --capture");
    EXPECT_NE(parse({"--capture", "--pid", "0"}).error.find("--pid: expected a process id"), std::string::npos);
    EXPECT_NE(meterUsage().find("--capture [--pid PID] [--seconds S]"), std::string::npos);
}
