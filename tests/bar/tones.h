// Sines fed to the analysers behind the bar, for the displays' tests.
#pragma once

#include <cmath>
#include <vector>

#include "bar/analyser_source.h"

namespace crestline::testing {

struct Tone {
    double hz;
    double amplitude;
};

// `seconds` at the source's rate of the tones in both channels, or with the
// right channel inverted (all side, no mid), going on from the audio fed so far.
inline void feedTones(AnalyserSource& source, const std::vector<Tone>& tones, double seconds, bool antiphase = false) {
    constexpr int kBlock = 480;
    std::vector<float> left(kBlock), right(kBlock);
    const double rate = source.sampleRate();
    const auto start = static_cast<double>(source.framesFed());
    for (long at = 0; at < std::lround(seconds * rate); at += kBlock) {
        for (int i = 0; i < kBlock; ++i) {
            double v = 0.0;
            const double t = (start + static_cast<double>(at + i)) / rate;
            for (const Tone& tone : tones) v += tone.amplitude * std::sin(2.0 * M_PI * tone.hz * t);
            left[static_cast<std::size_t>(i)] = static_cast<float>(v);
            right[static_cast<std::size_t>(i)] = static_cast<float>(antiphase ? -v : v);
        }
        source.feed(left.data(), right.data(), kBlock);
    }
}

}  // namespace crestline::testing
