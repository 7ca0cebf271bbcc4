// One snapshot of the loudness meter, copied out under the meter's lock and
// read freely afterwards. −∞ in a level means "no value yet"; NaN in
// `correlation` means silence (undefined).
#pragma once

#include <limits>

namespace crestline {

struct LoudnessReading {
    static constexpr double kNoValue = -std::numeric_limits<double>::infinity();

    double momentary = kNoValue;      // LUFS, last 400 ms
    double shortTerm = kNoValue;      // LUFS, last 3 s (fewer hops right after a reset)
    double integrated = kNoValue;     // LUFS, gated, since the last integrated reset
    double truePeak = kNoValue;       // dBTP, maximum since the last true-peak reset
    double loudnessRange = kNoValue;  // LU
    double shortTermPeak = kNoValue;  // dBTP, largest true-peak value within the short-term window
    double correlation = std::numeric_limits<double>::quiet_NaN();  // −1...+1 over the last 400 ms
    int overs = 0;  // upward crossings of −1 dBTP since the last true-peak reset
};

}  // namespace crestline
