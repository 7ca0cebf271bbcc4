// Test signals for the analysis tests: sines at a level, silence, feeding them in blocks, comparing readings.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/loudness_meter.h"
#include "analysis/scope_buffer.h"

namespace crestline::test {

// A sine of peak `amplitude` starting at `phase` radians.
inline std::vector<float> wave(double frequency, double rate, int frames, double amplitude = 1.0, double phase = 0.0) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        out[static_cast<std::size_t>(i)] =
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate + phase));
    }
    return out;
}

struct Stereo {
    std::vector<float> left, right;
    int frames() const { return static_cast<int>(left.size()); }
    Stereo& then(const Stereo& more) {
        left.insert(left.end(), more.left.begin(), more.left.end());
        right.insert(right.end(), more.right.begin(), more.right.end());
        return *this;
    }
};

// The same sine on both channels, its peak at `dbfs`.
inline Stereo sine(double rate, double frequency, double dbfs, double seconds, double phaseDegrees = 0.0) {
    const auto s = wave(frequency, rate, static_cast<int>(std::lround(seconds * rate)), std::pow(10.0, dbfs / 20.0),
                        phaseDegrees * std::numbers::pi / 180.0);
    return Stereo{s, s};
}

inline Stereo constant(float value, int frames) {
    const std::vector<float> v(static_cast<std::size_t>(frames), value);
    return Stereo{v, v};
}
inline Stereo silence(double rate, double seconds) { return constant(0.0f, static_cast<int>(std::lround(seconds * rate))); }

struct Meter : LoudnessMeter {
    explicit Meter(double rate) { configure(rate); }
};

// `s` in blocks of `block` frames into a meter, a scope or a block handler.
template <typename Sink>
void feed(Sink&& sink, const Stereo& s, int block = 512) {
    for (int done = 0; done < s.frames(); done += block) {
        const float *l = s.left.data() + done, *r = s.right.data() + done;
        const int n = std::min(block, s.frames() - done);
        if constexpr (requires { sink.process(l, r, n); }) sink.process(l, r, n);
        else if constexpr (requires { sink.write(l, r, n); }) sink.write(l, r, n);
        else sink(l, r, n);
    }
}

// Every field alike, bit for bit; an undefined correlation (NaN) matches only another one.
inline void expectSameReading(const LoudnessReading& a, const LoudnessReading& b) {
    const auto fields = [](const LoudnessReading& r) {
        return std::vector<double>{r.momentary, r.shortTerm, r.integrated, r.truePeak, r.loudnessRange, r.shortTermPeak,
                                   static_cast<double>(r.overs), std::isnan(r.correlation) ? 99.0 : r.correlation};
    };
    EXPECT_EQ(fields(a), fields(b));
}

inline void write(ScopeBuffer& scope, const std::vector<float>& left, const std::vector<float>& right) {
    scope.write(left.data(), right.data(), static_cast<int>(std::min(left.size(), right.size())));
}

// The same sine on both channels, at the scope's rate.
inline void writeSine(ScopeBuffer& scope, double frequency, int frames, double amplitude = 1.0, double phase = 0.0) {
    const auto s = wave(frequency, scope.rate(), frames, amplitude, phase);
    write(scope, s, s);
}

}  // namespace crestline::test
