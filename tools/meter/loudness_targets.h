// Playback loudness targets and the gain that brings a measurement to each:
// a target in LUFS with its true-peak ceiling in dBTP. `--streaming` is a
// built-in list of the levels that playback services and broadcast commonly
// normalise to; the services change theirs now and then.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace crestline::meter_tool {

struct LoudnessTarget {
    double lufs = -14.0;
    double ceiling = -1.0;  // dBTP
    bool operator==(const LoudnessTarget&) const = default;
};

inline constexpr double kDefaultCeiling = -1.0;  // dBTP
inline constexpr double kMinTarget = -70.0, kMaxTarget = 0.0;    // LUFS
inline constexpr double kMinCeiling = -30.0, kMaxCeiling = 0.0;  // dBTP

// −14 LUFS (most streaming services), −16 LUFS (Apple Music and podcasts),
// −23 LUFS (EBU R128 broadcast), each with a ceiling of −1 dBTP.
const std::vector<LoudnessTarget>& streamingTargets();

// "LUFS" or "LUFS:DBTP" ("-14", "-16:-1.5"); the ceiling is −1 dBTP when
// left out. Nothing for text that is not that, or out of range.
std::optional<LoudnessTarget> parseTarget(const std::string& text);

struct TargetGain {
    double gain;           // dB to add to reach the target
    double truePeakAfter;  // dBTP once the gain is applied; −∞ when there was no peak
    bool aboveCeiling;     // that true peak would exceed the ceiling
};

// Nothing when the measurement has no integrated loudness (silence).
std::optional<TargetGain> gainToward(const LoudnessTarget& target, double integrated, double truePeak);

}  // namespace crestline::meter_tool
