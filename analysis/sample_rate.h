// The sample rates the analysers accept. Anything else (zero, negative,
// infinite, NaN, or absurd rates whose buffers would not fit) is refused by
// the caller and leaves the analyser as it was.
#pragma once

#include <cmath>

namespace crestline {

inline constexpr double kMinSampleRate = 8000.0;    // Hz
inline constexpr double kMaxSampleRate = 768000.0;  // Hz

inline bool isSupportedSampleRate(double rate) {
    return std::isfinite(rate) && rate >= kMinSampleRate && rate <= kMaxSampleRate;
}

}  // namespace crestline
