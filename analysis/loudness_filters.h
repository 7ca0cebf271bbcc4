// The per-sample filters of the loudness meter: the BS.1770 K-weighting
// (a high shelf, then a high-pass; double precision) and a 4x polyphase
// true-peak interpolator (single precision). Plain values: no locks, no
// allocation after construction. The meter owns one of each per channel and
// runs them on the capture thread while it holds its own lock.
#pragma once

#include <array>

namespace crestline {

// One second-order section, transposed direct form II; a0 is 1.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0;
    double a1 = 0.0, a2 = 0.0;
    double z1 = 0.0, z2 = 0.0;

    double step(double x) {
        const double y = b0 * x + z1;
        z1 = z2 + (b1 * x - a1 * y);
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Default-constructed it passes samples through unchanged.
struct KWeighting {
    Biquad shelf;
    Biquad highpass;

    KWeighting() = default;
    explicit KWeighting(double sampleRate);

    double process(double x) { return highpass.step(shelf.step(x)); }

    // A non-finite state word would stay non-finite forever: start over.
    void mendState();
};

// Runs both channels of a block through their weightings, exactly as
// `process` would sample by sample, and writes kl² + kr² per frame. The two
// channels share one vector register, which is what makes this cheap.
void weightedEnergies(KWeighting& left, KWeighting& right, const float* l, const float* r, int frames,
                      double* energy);

struct TruePeakDetector {
    static constexpr int kTaps = 12;
    static constexpr int kPhases = 4;

    // Four phases of twelve taps, phase after phase (ITU-R BS.1770-4 Annex 2).
    static constexpr std::array<float, kTaps * kPhases> coefficients{
        // phase 0
        0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f, -0.0594482421875f,
        0.1373291015625f, 0.9721679687500f, -0.1022949218750f, 0.0476074218750f, -0.0266113281250f,
        0.0148925781250f, -0.0083007812500f,
        // phase 1
        -0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f, -0.1665039062500f,
        0.4650878906250f, 0.7797851562500f, -0.2003173828125f, 0.1015625000000f, -0.0582275390625f,
        0.0330810546875f, -0.0189208984375f,
        // phase 2: phase 1 reversed
        -0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f, -0.2003173828125f,
        0.7797851562500f, 0.4650878906250f, -0.1665039062500f, 0.0891113281250f, -0.0517578125000f,
        0.0292968750000f, -0.0291748046875f,
        // phase 3: phase 0 reversed
        -0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f, -0.1022949218750f,
        0.9721679687500f, 0.1373291015625f, -0.0594482421875f, 0.0332031250000f, -0.0196533203125f,
        0.0109863281250f, 0.0017089843750f};

    // The last twelve samples, laid out twice so that the window
    // history[position ... position + 11] is contiguous, oldest first.
    std::array<float, 2 * kTaps> history{};
    int position = 0;  // slot of the oldest sample; the next sample goes here
    float peak = 0.0f;  // largest result since the owner last cleared it (linear)

    // Feeds one sample; returns the largest magnitude among it and its four
    // interpolated values, and raises `peak`.
    float push(float x);

    // What `push` would return for each sample of a block, in `results`;
    // the history moves on the same way, but `peak` is left to the caller
    // (the meter clears it between hops).
    void pushBlock(const float* x, int frames, float* results);

    // Frames side by side in the block path: 8 where the processor has
    // AVX2, else 4. Every width gives the same bits.
    static int blockLanes();
    // The block interpolation at a chosen width (8 falls back to 4 without
    // AVX2), for tests: `samples` holds 11 older samples, then `frames` new.
    static void interpolateWithLanes(const float* samples, int frames, float* results, int lanes);
};

}  // namespace crestline
