// The loudness meter's snapshot as the bar reads it, kept here only until
// the analysis library provides its own; same fields, same meaning.
#pragma once

#include <limits>

namespace crestline {

struct LoudnessReading {
    static constexpr double kNoValue = -std::numeric_limits<double>::infinity();
    double momentary = kNoValue;
    double shortTerm = kNoValue;
    double integrated = kNoValue;
    double truePeak = kNoValue;
    double loudnessRange = kNoValue;
    double shortTermPeak = kNoValue;
    double correlation = std::numeric_limits<double>::quiet_NaN();
    int overs = 0;
};

}  // namespace crestline

namespace crestline {

struct PeakLevels {
    double left;   // dBFS
    double right;  // dBFS
};

}  // namespace crestline
