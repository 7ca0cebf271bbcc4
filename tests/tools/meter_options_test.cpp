#include "tools/meter/meter_options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace crestline::meter_tool;

namespace {

using Args = std::vector<std::string>;

ParsedOptions parse(Args args) { return parseMeterOptions(args); }

// The options as words; the picture's size only with a picture.
std::string describe(const MeterOptions& o) {
    std::ostringstream out;
    if (o.every) out << "every=" << *o.every << " ";
    if (!o.autoReset) out << "no-auto-reset ";
    for (const auto& file : o.files) out << "file=" << file << " ";
    if (o.png) out << "png=" << *o.png << " " << o.width << "x" << o.height << "@" << o.scale << " ";
    if (o.theme) out << "theme=" << *o.theme << " ";
    if (o.modules) out << "modules=" << *o.modules << " ";
    for (const auto& o2 : o.overrides) out << "set=" << o2 << " ";
    if (o.bpm) out << "bpm=" << *o.bpm << " ";
    if (o.signature) out << "signature=" << o.signature->first << "/" << o.signature->second << " ";
    if (o.capture) out << "capture ";
    if (o.pid) out << "pid=" << *o.pid << " ";
    if (o.seconds) out << "seconds=" << *o.seconds << " ";
    if (o.album) out << "album ";
    for (const auto& t : o.targets) out << "target=" << t.lufs << ":" << t.ceiling << " ";
    return out.str();
}

}  // namespace

TEST(MeterOptions, AcceptedCommandLines) {
    for (const auto& [args, expected] : std::vector<std::pair<Args, std::string>>{
             {{"--every", "2.5", "a.wav", "--no-auto-reset", "--", "--odd.wav"},
              "every=2.5 no-auto-reset file=a.wav file=--odd.wav "},
             {{"--every=0.01", "x.wav"}, "every=0.01 file=x.wav "},
             {{"--png", "a.png", "--width", "1200", "--height", "150", "--scale", "1.5", "--theme", "liveDark", "x.wav"},
              "file=x.wav png=a.png 1200x150@1.5 theme=liveDark "},
             {{"--png=b.png", "x.wav"}, "file=x.wav png=b.png 900x36@2 "},
             {{"--png", "b.png", "--modules", "spectrum,meter", "--set", "scopeWindow=\"s4\"", "--set=imagerMode=1",
               "--bpm", "128", "--signature", "7/8", "x.wav"},
              "file=x.wav png=b.png 900x36@2 modules=spectrum,meter set=scopeWindow=\"s4\" set=imagerMode=1 bpm=128 "
              "signature=7/8 "},
             {{"--capture", "--pid", "4242", "--seconds=2.5", "--every", "1", "--no-auto-reset"},
              "every=1 no-auto-reset capture pid=4242 seconds=2.5 "},
             {{"--capture"}, "capture "},  // all sound, for the default time
             // Targets in the order given, each once; --streaming's list where it stands.
             {{"--album", "--target", "-9:-0.5", "--streaming", "--target=-14", "a.wav", "b.wav"},
              "file=a.wav file=b.wav album target=-9:-0.5 target=-14:-1 target=-16:-1 target=-23:-1 "},
             {{"--capture", "--streaming"}, "capture target=-14:-1 target=-16:-1 target=-23:-1 "},
         }) {
        const ParsedOptions p = parse(args);
        ASSERT_TRUE(p.options) << p.error;
        EXPECT_EQ(describe(*p.options), expected);
    }
}

TEST(MeterOptions, RefusedCommandLinesGetOneLineSayingWhy) {
    for (const auto& [args, reason] : std::vector<std::pair<Args, std::string>>{
             {{"--loud", "a.wav"}, "unknown option --loud"}, {{"a.wav", "--every"}, ""}, {{}, ""},
             {{"--every", "0", "a.wav"}, ""}, {{"--every", "-1", "a.wav"}, ""}, {{"--every", "1x", "a.wav"}, ""},
             {{"--every", "inf", "a.wav"}, ""}, {{"--every", "nan", "a.wav"}, ""}, {{"--every=", "a.wav"}, ""},
             {{"--no-auto-reset=1", "a.wav"}, ""}, {{"--no-auto-reset"}, ""},
             // A picture: one file, sizes and scale in range, a known theme.
             {{"--png", "a.png", "x.wav", "y.wav"}, ""}, {{"--height", "27", "x.wav"}, ""},
             {{"--height", "2001", "x.wav"}, ""}, {{"--width", "0", "x.wav"}, ""}, {{"--width", "nan", "x.wav"}, ""},
             {{"--scale", "9", "x.wav"}, ""}, {{"--scale", "", "x.wav"}, ""}, {{"--png", "", "x.wav"}, ""},
             {{"x.wav", "--png"}, ""}, {{"--theme", "dark", "x.wav"}, "liveLight, liveDark or scope"},
             // The picture's own choices: only with a picture, a beat grid of a
             // tempo the sync follows and a signature it accepts.
             {{"--modules", "meter", "x.wav"}, "they go with --png"}, {{"--bpm", "120", "x.wav"}, ""},
             {{"--png", "a.png", "--set", "scopeWindow", "x.wav"}, "--set: expected KEY=VALUE"},
             {{"--png", "a.png", "--modules=", "x.wav"}, ""}, {{"--png", "a.png", "--bpm", "19", "x.wav"}, "20 to 360"},
             {{"--png", "a.png", "--bpm", "361", "x.wav"}, ""}, {{"--png", "a.png", "--bpm", "1e400", "x.wav"}, ""},
             {{"--png", "a.png", "--signature", "4/4", "x.wav"}, "--signature goes with --bpm"},
             {{"--capture", "--set", "a=1"}, "they go with --png"},
             // Capture: a positive pid and time, no files, no picture.
             {{"--capture", "--pid", "0"}, "--pid: expected a process id"}, {{"--capture", "--pid", "-5"}, ""},
             {{"--capture", "--pid", "12a"}, ""}, {{"--capture", "--pid", "99999999999"}, ""},
             {{"--capture", "--pid", ""}, ""}, {{"--capture", "--pid"}, ""}, {{"--capture", "--seconds", "0"}, ""},
             {{"--capture", "--seconds", "nan"}, ""}, {{"--capture", "--seconds", "-1"}, ""},
             {{"--capture", "--seconds=inf"}, ""}, {{"--capture=1"}, ""}, {{"--capture", "--png", "bar.png"}, ""},
             {{"--capture", "a.wav"}, "--capture meters live sound and takes no file"},
             {{"--pid", "12", "a.wav"}, "--pid and --seconds go with --capture"}, {{"--seconds", "3", "a.wav"}, ""},
             {{"--pid", "12"}, ""},
             // Album and targets.
             {{"--target", "1", "a.wav"}, "--target: expected LUFS from -70 to 0"}, {{"--target", "-14:1", "a.wav"}, ""},
             {{"--target", "abc", "a.wav"}, ""}, {{"a.wav", "--target"}, ""}, {{"--streaming=1", "a.wav"}, ""},
             {{"--album", "--capture"}, "--album takes files"}, {{"--album=yes", "a.wav"}, ""},
             {{"--album", "--png", "bar.png", "a.wav"}, "--png draws one file, --album takes several"}}) {
        const ParsedOptions p = parse(args);
        EXPECT_FALSE(p.options) << ::testing::PrintToString(args);
        EXPECT_FALSE(p.error.empty());
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << p.error;
        EXPECT_NE(p.error.find(reason), std::string::npos) << p.error;
    }
    for (const std::string signature : {"7", "0/4", "100/4", "4/3", "4/0", "4/32", "a/4", "4/4x", "/4", "-4/4", ""}) {
        const ParsedOptions p = parse({"--png", "a.png", "--bpm", "120", "--signature", signature, "x.wav"});
        EXPECT_FALSE(p.options) << signature;
        EXPECT_NE(p.error.find("--signature: expected N/D"), std::string::npos) << p.error;
    }
}
