#include "tools/demo/demo_signal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace crestline::demo {
namespace {

constexpr double kBeatsPerSecond = 2.0;  // 120 BPM
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kPeakDbfs = -1.5;

double noteHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// Am, F, C, G: one chord per bar, root notes for the bass two octaves down.
constexpr std::array<std::array<int, 3>, 4> kChords{{{57, 60, 64}, {53, 57, 60}, {48, 52, 55}, {55, 59, 62}}};
constexpr std::array<int, 4> kBassRoots{33, 29, 36, 31};

class Noise {
public:
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<double>(state_ >> 11) * 0x1.0p-53 * 2.0 - 1.0;
    }

private:
    std::uint64_t state_ = 0x2545f4914f6cdd1dull;
};

// Naive saw, fine for low notes that a one-pole low-pass then softens.
double saw(double phase) { return 2.0 * (phase - std::floor(phase + 0.5)); }

double triangle(double phase) { return 1.0 - 4.0 * std::fabs(phase - std::floor(phase + 0.5)); }

}  // namespace

DemoAudio generateDemo(double seconds, double sampleRate) {
    DemoAudio out;
    out.sampleRate = sampleRate;
    const auto frames = static_cast<std::size_t>(std::max(0.0, std::round(seconds * sampleRate)));
    out.left.assign(frames, 0.0f);
    out.right.assign(frames, 0.0f);

    Noise noise;
    double bassLow = 0.0;  // one-pole low-pass state of the bass
    double hatPrev = 0.0;  // one-zero high-pass state of the hats
    const double bassCoefficient = 1.0 - std::exp(-kTwoPi * 400.0 / sampleRate);

    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double beats = t * kBeatsPerSecond;
        const auto beat = static_cast<long long>(beats);
        const double inBeat = (beats - static_cast<double>(beat)) / kBeatsPerSecond;  // seconds since the beat
        const auto bar = static_cast<std::size_t>((beat / 4) % 4);
        const bool firstPass = beat < 16;
        const bool intro = firstPass && beat < 4;   // pad and hats only
        const bool breakdown = (beat % 16) >= 14;  // the last half bar of each loop drops the kick

        // Kick: a falling sine with a fast decay; it ducks bass and pad.
        double kick = 0.0, duck = 1.0;
        if (!intro && !breakdown) {
            const double pitch = 45.0 + 75.0 * std::exp(-inBeat * 30.0);
            const double phase = 45.0 * inBeat + 75.0 * (1.0 - std::exp(-inBeat * 30.0)) / 30.0;
            kick = std::sin(kTwoPi * phase) * std::exp(-inBeat * 9.0) * (pitch > 0.0 ? 0.9 : 0.0);
            duck = 1.0 - 0.6 * std::exp(-inBeat * 8.0);
        }

        // Bass: eighth notes on the chord's root, low-passed saw.
        double bass = 0.0;
        if (!intro) {
            const double eighth = std::fmod(beats * 2.0, 1.0) / (2.0 * kBeatsPerSecond);
            const double hz = noteHz(kBassRoots[bar] + ((beat % 4) == 3 ? 12 : 0));
            const double raw = saw(std::fmod(hz * t, 1.0)) * std::exp(-eighth * 6.0);
            bassLow += bassCoefficient * (raw - bassLow);
            bass = 0.45 * bassLow * duck;
        }

        // Pad: three chord notes, each with a voice per side detuned apart,
        // swelling over the bar; louder once the loop has filled up.
        double padL = 0.0, padR = 0.0;
        const double inBar = std::fmod(beats, 4.0) / 4.0;
        const double swell = (intro ? 0.6 : 1.0) * (0.55 + 0.45 * std::sin(std::numbers::pi * inBar));
        for (int note : kChords[bar]) {
            const double hz = noteHz(note);
            padL += triangle(std::fmod(hz * 0.997 * t, 1.0)) + 0.3 * saw(std::fmod(hz * 2.003 * t, 1.0));
            padR += triangle(std::fmod(hz * 1.003 * t + 0.25, 1.0)) + 0.3 * saw(std::fmod(hz * 1.997 * t, 1.0));
        }
        padL *= 0.07 * swell * duck;
        padR *= 0.07 * swell * duck;

        // Hats on the off-beats (right of centre), a soft shaker on sixteenths (left).
        const double n = noise.next();
        const double hp = n - hatPrev;
        hatPrev = n;
        const double sixteenth = std::fmod(beats * 4.0, 1.0) / (4.0 * kBeatsPerSecond);
        const double offBeat = std::fmod(beats + 0.5, 1.0) / kBeatsPerSecond;
        const double hat = 0.18 * hp * std::exp(-offBeat * 40.0);
        const double shaker = 0.05 * hp * std::exp(-sixteenth * 25.0);

        out.left[i] = static_cast<float>(kick + bass + padL + 0.6 * hat + shaker);
        out.right[i] = static_cast<float>(kick + bass + padR + hat + 0.5 * shaker);
    }

    float peak = 0.0f;
    for (std::size_t i = 0; i < frames; ++i) peak = std::max({peak, std::fabs(out.left[i]), std::fabs(out.right[i])});
    if (peak > 0.0f) {
        const auto gain = static_cast<float>(std::pow(10.0, kPeakDbfs / 20.0) / peak);
        for (std::size_t i = 0; i < frames; ++i) {
            out.left[i] *= gain;
            out.right[i] *= gain;
        }
    }
    return out;
}

}  // namespace crestline::demo
