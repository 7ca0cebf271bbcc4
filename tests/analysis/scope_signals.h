// Signals for the scope, spectrum and spectrogram tests.
#pragma once

#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/scope_buffer.h"

namespace crestline::testing {

inline std::vector<float> sine(double frequency, double rate, int frames, double amplitude = 1.0,
                               double phase = 0.0) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        out[static_cast<std::size_t>(i)] =
            static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate + phase));
    }
    return out;
}

inline std::vector<float> scaled(std::vector<float> samples, float factor) {
    for (float& s : samples) s *= factor;
    return samples;
}

inline void write(ScopeBuffer& scope, const std::vector<float>& left, const std::vector<float>& right) {
    scope.write(left.data(), right.data(), static_cast<int>(std::min(left.size(), right.size())));
}

// The same sine on both channels, at the scope's rate.
inline void writeSine(ScopeBuffer& scope, double frequency, int frames, double amplitude = 1.0, double phase = 0.0) {
    const auto s = sine(frequency, scope.rate(), frames, amplitude, phase);
    write(scope, s, s);
}

}  // namespace crestline::testing
