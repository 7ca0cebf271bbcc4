#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/loudness_filters.h"

using namespace crestline;

TEST(KWeighting, CoefficientsAt48kHzMatchTheBs1770Table) {
    const KWeighting k(48000.0);
    EXPECT_NEAR(k.shelf.b0, 1.53512485958697, 1e-12);
    EXPECT_NEAR(k.shelf.b1, -2.69169618940638, 1e-12);
    EXPECT_NEAR(k.shelf.b2, 1.19839281085285, 1e-12);
    EXPECT_NEAR(k.shelf.a1, -1.69065929318241, 1e-12);
    EXPECT_NEAR(k.shelf.a2, 0.73248077421585, 1e-12);
    EXPECT_EQ(k.highpass.b0, 1.0);
    EXPECT_EQ(k.highpass.b1, -2.0);
    EXPECT_EQ(k.highpass.b2, 1.0);
    EXPECT_NEAR(k.highpass.a1, -1.99004745483398, 1e-12);
    EXPECT_NEAR(k.highpass.a2, 0.99007225036621, 1e-12);
    KWeighting pass;  // unconfigured: samples pass unchanged
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

TEST(TruePeakDetector, QuarterRateSineAt45DegreesReadsAboveItsSamples) {
    TruePeakDetector d;
    std::vector<float> results;
    for (int i = 0; i < 64; ++i) {
        results.push_back(d.push(static_cast<float>(std::sin(std::numbers::pi / 2.0 * i + std::numbers::pi / 4.0))));
        if (i == 11) d.peak = 0.0f;  // from here on the window holds only the sine
    }
    EXPECT_NEAR(d.peak, 1.005f, 0.001f);
    // The results alternate between the interpolated crest and the sample magnitude.
    for (std::size_t i = 12; i < 64; i += 2) {
        EXPECT_NEAR(std::max(results[i], results[i + 1]), 1.005f, 0.001f) << i;
        EXPECT_NEAR(std::min(results[i], results[i + 1]), 0.7071f, 0.0005f) << i;
    }
}

// The meter runs blocks through vectorised paths; they must give exactly
// what the one-sample operations give, whatever the block lengths.
TEST(LoudnessFilters, BlockPathsMatchTheSampleBySamplePathBitForBit) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> l(2000), r(2000);
    for (std::size_t i = 0; i < l.size(); ++i) {
        l[i] = uniform(random);
        r[i] = 0.3f * uniform(random);
    }
    TruePeakDetector single, block;
    single.push(0.3f);  // the block path starts from a ring that is not at slot 0
    block.push(0.3f);
    KWeighting bl(44100.0), br(44100.0), sl(44100.0), sr(44100.0);
    std::vector<float> results(l.size());
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
    float last = 0.0f;
    block.pushBlock(l.data(), 1, &last);
    EXPECT_EQ(last, single.push(l[0]));  // the rings agree too
    EXPECT_EQ(block.peak, 0.3f);         // the block path leaves peak to its caller
    EXPECT_EQ(bl.highpass.z1, sl.highpass.z1);

    // Both vector widths agree (eight lanes only where the processor has AVX2).
    std::vector<float> four(600), eight(600);
    TruePeakDetector::interpolateWithLanes(l.data(), 589, four.data(), 4);
    TruePeakDetector::interpolateWithLanes(l.data(), 589, eight.data(), 8);
    EXPECT_EQ(four, eight);

    KWeighting poisoned(48000.0);
    poisoned.process(std::nan(""));
    poisoned.mendState();
    EXPECT_TRUE(std::isfinite(poisoned.process(0.1)));
}
