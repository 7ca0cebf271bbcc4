#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/loudness_filters.h"

using namespace crestline;

TEST(KWeighting, CoefficientsAt48kHzMatchTheBs1770TableAndAMendedStateIsFinite) {
    const KWeighting k(48000.0);
    const std::array actual{k.shelf.b0, k.shelf.b1, k.shelf.b2, k.shelf.a1, k.shelf.a2,
                            k.highpass.b0, k.highpass.b1, k.highpass.b2, k.highpass.a1, k.highpass.a2};
    const std::array expected{1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                              0.73248077421585, 1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-12) << i;
    KWeighting pass;  // unconfigured: samples pass unchanged
    EXPECT_EQ(pass.process(0.25), 0.25);
    pass.process(std::nan(""));
    pass.mendState();
    EXPECT_EQ(pass.process(0.25), 0.25);
}

TEST(TruePeakDetector, ImpulseReturnsItselfThenTheInterpolatedResponse) {
    TruePeakDetector d;
    EXPECT_EQ(d.push(1.0f), 1.0f);
    const auto& c = TruePeakDetector::coefficients;
    for (int k = 1; k < 12; ++k) {
        // The impulse sits k samples back: tap 11 − k of every phase meets it.
        float expected = 0.0f;
        for (int p = 0; p < 4; ++p) expected = std::max(expected, std::fabs(c[12 * p + 11 - k]));
        EXPECT_EQ(d.push(0.0f), expected) << "push " << k;
    }
    for (int k = 0; k < 20; ++k) EXPECT_EQ(d.push(0.0f), 0.0f);  // silence raises nothing
    EXPECT_EQ(d.peak, 1.0f);
}

// The meter runs blocks through vectorised paths; they must give exactly
// what the one-sample operations give, whatever the block lengths.
TEST(LoudnessFilters, BlockPathsMatchTheSampleBySamplePathBitForBit) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> l(2000), r(2000), results(2000);
    for (std::size_t i = 0; i < l.size(); ++i) l[i] = uniform(random), r[i] = 0.3f * uniform(random);
    TruePeakDetector single, block;
    single.push(0.3f);  // the block path starts from a ring that is not at slot 0
    block.push(0.3f);
    KWeighting bl(44100.0), br(44100.0), sl(44100.0), sr(44100.0);
    std::vector<double> energy(l.size());
    std::size_t done = 0;
    for (int length : {1, 7, 8, 9, 255, 256, 257, 600, 1}) {
        block.pushBlock(l.data() + done, length, results.data() + done);
        weightedEnergies(bl, br, l.data() + done, r.data() + done, length, energy.data() + done);
        done += static_cast<std::size_t>(length);
    }
    for (std::size_t i = 0; i < done; ++i) {
        ASSERT_EQ(results[i], single.push(l[i])) << "sample " << i;
        const double kl = sl.process(l[i]), kr = sr.process(r[i]);
        ASSERT_EQ(energy[i], kl * kl + kr * kr) << "frame " << i;
    }
    block.pushBlock(l.data(), 1, results.data());
    EXPECT_EQ(results[0], single.push(l[0]));  // the rings agree too
    EXPECT_EQ(block.peak, 0.3f);               // the block path leaves peak to its caller
    // Both vector widths agree (eight lanes only where the processor has AVX2).
    std::vector<float> four(600), eight(600);
    TruePeakDetector::interpolateWithLanes(l.data(), 589, four.data(), 4);
    TruePeakDetector::interpolateWithLanes(l.data(), 589, eight.data(), 8);
    EXPECT_EQ(four, eight);
}
