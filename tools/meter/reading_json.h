// One reading of crestline-meter as one JSON line. Levels are dB numbers;
// −∞ (no value) and NaN (undefined correlation) become null.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "analysis/loudness_reading.h"
#include "analysis/peak_meter.h"

namespace crestline::meter_tool {

struct MeterReport {
    // "file" with the path, or another key naming where the audio came from;
    // an empty key leaves the member out (periodic readings).
    std::string originKey;
    std::string origin;
    std::optional<double> t;  // seconds of audio processed (periodic readings)
    double sampleRate = 0.0;
    long long frames = 0;
    LoudnessReading reading;
    double maxMomentary = LoudnessReading::kNoValue;  // largest finite value seen after any block
    double maxShortTerm = LoudnessReading::kNoValue;
    std::optional<PeakLevels> samplePeak;  // final readings only
};

// The object on one line, without the newline.
std::string formatReport(const MeterReport& report);

// Writes the line and its newline in one call and flushes, so a reader never
// sees half an object. Returns false when the stream refused it.
bool writeLine(std::FILE* out, const std::string& line);

}  // namespace crestline::meter_tool
