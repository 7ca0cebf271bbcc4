// A small generator of music-like stereo material for demos and tests: a
// four-bar loop at 120 BPM in A minor (kick, bass, a wide chord pad, hats
// and a shaker) that starts sparse and fills up, normalised to a sample
// peak of −1.5 dBFS. Deterministic: the same length gives the same samples.
#pragma once

#include <vector>

namespace crestline::demo {

struct DemoAudio {
    double sampleRate = 48000.0;
    std::vector<float> left;
    std::vector<float> right;
};

DemoAudio generateDemo(double seconds, double sampleRate = 48000.0);

}  // namespace crestline::demo
