// One reading of crestline-meter as one JSON line. Levels are dB numbers;
// −∞ (no value) and NaN (undefined correlation) become null.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "analysis/loudness_reading.h"
#include "analysis/peak_meter.h"
#include "tools/meter/loudness_targets.h"

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
    // Final readings only. For files of more than two channels the sample
    // peaks of every channel are in channelPeaks, and samplePeak holds the
    // left and right sides' largest (the centres count on both) for the bar.
    std::optional<PeakLevels> samplePeak;
    std::vector<std::string> channels;  // speaker names, files of more than two channels only
    std::vector<double> channelPeaks;   // dBFS, in the file's channel order
    std::vector<LoudnessTarget> targets;  // "gains" toward each
};

// Several files taken as one programme.
struct AlbumReport {
    int files = 0;
    double integrated = LoudnessReading::kNoValue;
    double loudnessRange = LoudnessReading::kNoValue;
    double truePeak = LoudnessReading::kNoValue;
    double maxMomentary = LoudnessReading::kNoValue;
    double maxShortTerm = LoudnessReading::kNoValue;
    std::vector<LoudnessTarget> targets;
};

// The object on one line, without the newline.
std::string formatReport(const MeterReport& report);
std::string formatAlbum(const AlbumReport& album);

// Writes the line and its newline in one call and flushes, so a reader never
// sees half an object. Returns false when the stream refused it.
bool writeLine(std::FILE* out, const std::string& line);

}  // namespace crestline::meter_tool
