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
    EXPECT_EQ(k.shelf.z1, 0.0);
    EXPECT_EQ(k.highpass.z2, 0.0);
}

TEST(KWeighting, UnconfiguredPassesThroughAndConfiguredGivesTheWeightingCurve) {
    KWeighting pass;
    for (double x : {0.25, -1.0, 3.5}) EXPECT_EQ(pass.process(x), x);

    // Gain of a sine after settling: about +0.69 dB at 1 kHz, +4 dB high up,
    // strongly cut at 10 Hz.
    const auto gainDb = [](double frequency) {
        KWeighting k(48000.0);
        double peak = 0.0;
        for (int i = 0; i < 96000; ++i) {
            const double y = k.process(std::sin(2.0 * std::numbers::pi * frequency * i / 48000.0));
            if (i > 48000) peak = std::max(peak, std::fabs(y));
        }
        return 20.0 * std::log10(peak);
    };
    EXPECT_NEAR(gainDb(1000.0), 0.69, 0.02);
    EXPECT_NEAR(gainDb(10000.0), 4.0, 0.1);
    EXPECT_LT(gainDb(10.0), -15.0);
}

TEST(KWeighting, BlockWeightingMatchesSampleBySampleBitForBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> l(1000), r(1000);
    for (std::size_t i = 0; i < l.size(); ++i) {
        l[i] = uniform(random);
        r[i] = uniform(random) * 0.3f;
    }
    KWeighting bl(44100.0), br(44100.0), sl(44100.0), sr(44100.0);
    std::vector<double> energy(l.size());
    weightedEnergies(bl, br, l.data(), r.data(), 600, energy.data());
    weightedEnergies(bl, br, l.data() + 600, r.data() + 600, 400, energy.data() + 600);
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double kl = sl.process(l[i]);
        const double kr = sr.process(r[i]);
        ASSERT_EQ(energy[i], kl * kl + kr * kr) << "frame " << i;
    }
    EXPECT_EQ(bl.highpass.z1, sl.highpass.z1);
    EXPECT_EQ(br.shelf.z2, sr.shelf.z2);
}

TEST(KWeighting, MendStateClearsOnlyANonFiniteState) {
    KWeighting k(48000.0);
    k.process(0.5);
    const double z1 = k.shelf.z1;
    k.mendState();
    EXPECT_EQ(k.shelf.z1, z1);
    k.process(std::nan(""));
    EXPECT_TRUE(std::isnan(k.shelf.z1));
    k.mendState();
    EXPECT_EQ(k.shelf.z1, 0.0);
    EXPECT_EQ(k.highpass.z2, 0.0);
    EXPECT_TRUE(std::isfinite(k.process(0.1)));
}

TEST(TruePeakDetector, PhasesAreTheStandardTableWithMirroredPairs) {
    const auto& c = TruePeakDetector::coefficients;
    EXPECT_EQ(c[0], 0.0017089843750f);
    EXPECT_EQ(c[6], 0.9721679687500f);
    EXPECT_EQ(c[12], -0.0291748046875f);
    EXPECT_EQ(c[18], 0.7797851562500f);
    for (int j = 0; j < 12; ++j) {
        EXPECT_EQ(c[36 + j], c[11 - j]) << j;
        EXPECT_EQ(c[24 + j], c[12 + 11 - j]) << j;
    }
    // Each phase passes a constant at about its own level.
    for (int p = 0; p < 4; ++p) {
        float sum = 0.0f;
        for (int j = 0; j < 12; ++j) sum += c[12 * p + j];
        EXPECT_NEAR(sum, 1.0f, 0.03f) << "phase " << p;
    }
}

TEST(TruePeakDetector, ImpulseReturnsItselfThenTheInterpolatedResponse) {
    TruePeakDetector d;
    EXPECT_EQ(d.push(1.0f), 1.0f);
    const auto& c = TruePeakDetector::coefficients;
    for (int k = 1; k < 12; ++k) {
        // The impulse now sits k samples back: tap 11 − k of every phase meets it.
        float expected = 0.0f;
        for (int p = 0; p < 4; ++p) expected = std::max(expected, std::fabs(c[12 * p + 11 - k]));
        EXPECT_EQ(d.push(0.0f), expected) << "push " << k;
    }
    EXPECT_EQ(d.push(0.0f), 0.0f);  // the impulse has left the window
    EXPECT_EQ(d.peak, 1.0f);
}

TEST(TruePeakDetector, QuarterRateSineAt45DegreesReadsAboveItsSamples) {
    TruePeakDetector d;
    std::vector<float> results;
    for (int i = 0; i < 64; ++i) {
        const float x = static_cast<float>(std::sin(std::numbers::pi / 2.0 * i + std::numbers::pi / 4.0));
        results.push_back(d.push(x));
        if (i == 11) d.peak = 0.0f;  // from here on the window holds only the sine
    }
    EXPECT_NEAR(d.peak, 1.005f, 0.002f);
    EXPECT_GT(d.peak, 0.7072f);
    // Once the window is full the results alternate between the
    // interpolated crest and the sample magnitude.
    for (int i = 12; i < 64; i += 2) {
        const float hi = std::max(results[i], results[i + 1]);
        const float lo = std::min(results[i], results[i + 1]);
        EXPECT_NEAR(hi, 1.005f, 0.002f) << i;
        EXPECT_NEAR(lo, 0.7071f, 0.0005f) << i;
    }
}

TEST(TruePeakDetector, SilenceNeverRaisesThePeak) {
    TruePeakDetector d;
    for (int i = 0; i < 100; ++i) EXPECT_EQ(d.push(0.0f), 0.0f);
    EXPECT_EQ(d.peak, 0.0f);
}

TEST(TruePeakDetector, BlockPathMatchesPushBitForBitAcrossOddLengths) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(2000);
    for (float& v : x) v = uniform(random);
    TruePeakDetector single, block;
    single.push(0.3f);  // start both from a ring that is not at slot 0
    block.push(0.3f);
    std::vector<float> results(x.size());
    std::size_t done = 0;
    for (int length : {1, 7, 8, 9, 255, 256, 257, 600, 1}) {
        block.pushBlock(x.data() + done, length, results.data() + done);
        done += static_cast<std::size_t>(length);
    }
    ASSERT_LE(done, x.size());
    for (std::size_t i = 0; i < done; ++i) ASSERT_EQ(results[i], single.push(x[i])) << "sample " << i;
    // The rings agree too: one more sample gives the same answer.
    float last = 0.0f;
    block.pushBlock(x.data(), 1, &last);
    EXPECT_EQ(last, single.push(x[0]));
    EXPECT_EQ(block.peak, 0.3f);  // the block path leaves peak to its caller
}
