// Test signals for the loudness and peak tests: stereo sines at a level in
// dBFS (peak amplitude), silence, feeding a meter in blocks, and comparing
// readings.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/loudness_meter.h"

namespace crestline::test {

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;

    int frames() const { return static_cast<int>(left.size()); }

    Stereo& then(const Stereo& more) {
        left.insert(left.end(), more.left.begin(), more.left.end());
        right.insert(right.end(), more.right.begin(), more.right.end());
        return *this;
    }
};

inline Stereo sine(double rate, double frequency, double dbfs, double seconds, double phaseDegrees = 0.0) {
    const auto n = static_cast<std::size_t>(std::lround(seconds * rate));
    const double a = std::pow(10.0, dbfs / 20.0);
    Stereo s{std::vector<float>(n), std::vector<float>(n)};
    for (std::size_t i = 0; i < n; ++i) {
        const double x = a * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate +
                                      phaseDegrees * std::numbers::pi / 180.0);
        s.left[i] = s.right[i] = static_cast<float>(x);
    }
    return s;
}

inline Stereo silence(double rate, double seconds) {
    const auto n = static_cast<std::size_t>(std::lround(seconds * rate));
    return Stereo{std::vector<float>(n), std::vector<float>(n)};
}

inline void feed(LoudnessMeter& meter, const Stereo& s, int block = 512) {
    for (int done = 0; done < s.frames(); done += block) {
        meter.process(s.left.data() + done, s.right.data() + done, std::min(block, s.frames() - done));
    }
}

// Every field of two readings alike, bit for bit; an undefined correlation
// (NaN) matches only another one.
inline void expectSameReading(const LoudnessReading& a, const LoudnessReading& b) {
    const auto fields = [](const LoudnessReading& r) {
        return std::vector<double>{r.momentary,     r.shortTerm,     r.integrated,
                                   r.truePeak,      r.loudnessRange, r.shortTermPeak,
                                   static_cast<double>(r.overs),     std::isnan(r.correlation) ? 99.0 : r.correlation};
    };
    EXPECT_EQ(fields(a), fields(b));
}

}  // namespace crestline::test
