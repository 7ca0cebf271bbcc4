// Command line of crestline-meter:
//   crestline-meter [--every SECONDS] [--no-auto-reset]
//                   [--png OUT.png [--width POINTS] [--height POINTS] [--scale S]
//                    [--theme liveLight|liveDark|scope] [--modules LIST] [--set KEY=VALUE]...
//                    [--bpm B [--signature N/D]]]
//                   [--album] [--target LUFS[:DBTP]]... [--streaming] FILE...
//   crestline-meter --capture [--pid PID] [--seconds S] [--every SECONDS] [--no-auto-reset]
//                   [--target LUFS[:DBTP]]... [--streaming]
// Parsing only: no I/O, so tests and later options (other sources, image
// output) add a table entry and a field without touching the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tools/meter/loudness_targets.h"

namespace crestline::meter_tool {

struct MeterOptions {
    std::optional<double> every;  // seconds of audio between periodic readings
    bool autoReset = true;        // restart integrated and true peak after 3 s of silence
    bool help = false;
    std::vector<std::string> files;
    // The bar drawn with the readings at the end of the file (one file only).
    std::optional<std::string> png;
    double width = 900.0;  // points, 1...16384
    double height = 36.0;  // points, 28...2000
    double scale = 2.0;    // pixels per point, 0.5...8
    std::optional<std::string> theme;
    // The picture's own module order ("spectrum,meter,imager"), settings
    // overrides ("KEY=VALUE", the value in JSON; checked where the settings
    // are known) and a beat grid from the file's start.
    std::optional<std::string> modules;
    std::vector<std::string> overrides;
    std::optional<double> bpm;  // 20...360, the tempi the transport sync follows
    std::optional<std::pair<int, int>> signature;  // numerator 1...99, denominator 1, 2, 4, 8 or 16
    // Live sound instead of files: the sound of process `pid`, or all sound
    // without it, for `seconds` of wall-clock time.
    bool capture = false;
    std::optional<std::int32_t> pid;
    std::optional<double> seconds;
    // After the files, one line for all of them as one programme.
    bool album = false;
    // Each final reading gains the gain toward each target (no duplicates).
    std::vector<LoudnessTarget> targets;
};

struct ParsedOptions {
    std::optional<MeterOptions> options;  // absent on error
    std::string error;                    // one line, without the program name
};

// `args` excludes the program name.
ParsedOptions parseMeterOptions(std::span<const std::string> args);

std::string meterUsage();

}  // namespace crestline::meter_tool
