#include "analysis/spectrum_analyzer.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "analysis/scope_buffer.h"
#include "platform/clock.h"
#include "tests/analysis/signals.h"

using namespace crestline;
using namespace crestline::test;

namespace {

constexpr float kInfinite = std::numeric_limits<float>::infinity();
constexpr float kFloor = SpectrumAnalyzer::kFloorDb;

struct Scope : ScopeBuffer {
    explicit Scope(double rate, int capacity = 32768) : ScopeBuffer(capacity) { configure(rate); }
    void silence(int frames) { feed(*this, constant(0.0f, frames), frames); }
};

// Bin k sits at k·w; `bin` of a frequency that is on one.
std::size_t bin(const SpectrumAnalyzer& a, double f) { return static_cast<std::size_t>(std::lround(f / a.binWidth())); }
double onBin(const SpectrumAnalyzer& a, double near) { return static_cast<double>(bin(a, near)) * a.binWidth(); }

}  // namespace

TEST(SpectrumAnalyzer, WindowIsAtLeast160MillisecondsAndPaddingMultipliesTheBins) {
    for (const auto& [rate, padding, size] : {std::tuple{48000.0, 2, 8192}, {44100.0, 1, 8192}, {96000.0, 2, 16384},
                                              {8000.0, 1, 4096}, {768000.0, 1, 131072}}) {
        SpectrumAnalyzer analyzer(60.0f, padding);
        EXPECT_EQ(analyzer.level(900, 1100, 0), kFloor);  // before the first update
        EXPECT_EQ(analyzer.peakFrequency(440.0), 440.0);
        analyzer.update(Scope(rate));
        EXPECT_EQ(analyzer.size(), size) << rate;
        EXPECT_EQ(analyzer.fftSize(), size * padding) << rate;
    }
    EXPECT_EQ(SpectrumAnalyzer(1.0f, 0).padding(), 1);
    EXPECT_EQ(SpectrumAnalyzer(1.0f, 1 << 30).padding(), SpectrumAnalyzer::kMaxPadding);
}

TEST(SpectrumAnalyzer, SineOnABinReadsItsLevelInEveryChannelModeAndSilenceReadsMinus200) {
    using enum SpectrumChannel;
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (int padding : {1, 2}) {
            SpectrumAnalyzer analyzer(kInfinite, padding);
            Scope scope(rate);
            scope.silence(20000);
            analyzer.update(scope);
            for (float level : analyzer.levels()) ASSERT_EQ(level, kFloor);
            const double f = onBin(analyzer, 1000.0);
            const auto s = wave(f, rate, 20000, 1.0, 0.3);
            // Right is g·left: g = 1 carries no side, g = −1 no mid; stereo averages the two powers.
            for (const float g : {1.0f, -1.0f, 0.5f}) {
                auto r = s;
                for (float& v : r) v *= g;
                write(scope, s, r);
                const std::array<std::pair<SpectrumChannel, float>, 5> powers{
                    {{stereo, (1 + g * g) / 2}, {left, 1}, {right, g * g}, {mid, (1 + g) * (1 + g) / 4},
                     {side, (1 - g) * (1 - g) / 4}}};
                for (const auto& [channel, power] : powers) {
                    analyzer.setChannel(channel);
                    analyzer.update(scope);
                    EXPECT_NEAR(analyzer.levels()[bin(analyzer, f)], power > 0 ? 10 * std::log10(power) : kFloor, 0.01f)
                        << rate << ", padding " << padding << ", g " << g << ", " << rawValue(channel);
                }
            }
        }
    }
}

TEST(SpectrumAnalyzer, BinsRiseAtOnceAndFallAtTheReleaseRateWithAQuarterSecondCap) {
    for (double gap : {0.25, 2.0}) {
        FakeClock clock;
        SpectrumAnalyzer analyzer(60.0f, 2, clock);
        Scope scope(48000);
        writeSine(scope, 2000.0, 10000);
        analyzer.update(scope);
        const std::size_t k = bin(analyzer, 2000.0);
        const float peak = analyzer.levels()[k];
        EXPECT_GT(peak, -1.0f);
        scope.silence(10000);
        clock.advance(gap);
        analyzer.update(scope);
        EXPECT_NEAR(analyzer.levels()[k], peak - 15.0f, 0.01f) << "after " << gap << " s";
        clock.advance(0.1);
        analyzer.update(scope);
        EXPECT_NEAR(analyzer.levels()[k], peak - 21.0f, 0.01f);
    }
}

TEST(SpectrumAnalyzer, PeakHoldKeepsTheMaximumAndRestartsFromTheCurrentCurveOnEverySwitch) {
    SpectrumAnalyzer analyzer(kInfinite, 1);
    Scope scope(48000);
    analyzer.update(scope);
    const double f = onBin(analyzer, 1000.0);
    const std::size_t k = bin(analyzer, f);
    analyzer.setHolding(true);
    for (double amplitude : {1.0, 0.1}) {
        writeSine(scope, f, 10000, amplitude);
        analyzer.update(scope);
    }
    EXPECT_NEAR(analyzer.levels()[k], -20.0f, 0.01f);
    EXPECT_NEAR(analyzer.held()[k], 0.0f, 0.01f);
    analyzer.setHolding(false);
    analyzer.setHolding(true);  // restarts from −20…
    scope.silence(10000);
    analyzer.update(scope);  // …and does not decay
    EXPECT_NEAR(analyzer.held()[k], -20.0f, 0.01f);
    EXPECT_EQ(analyzer.levels()[k], kFloor);
    EXPECT_NEAR(analyzer.peakFrequency(f * 1.01), f, 0.5);  // read from the held curve
    scope.configure(96000);  // a new length: the hold re-seeds itself, levels restart
    analyzer.update(scope);
    ASSERT_EQ(analyzer.held().size(), analyzer.levels().size());
    EXPECT_TRUE(std::equal(analyzer.held().begin(), analyzer.held().end(), analyzer.levels().begin()));
}

TEST(SpectrumAnalyzer, LevelTakesTheBandMaximumPlusATiltPivotingAtOneKilohertz) {
    // A centred impulse of height Σw/20 has a flat spectrum at exactly −20 dB.
    SpectrumAnalyzer analyzer(kInfinite, 2);
    Scope scope(48000);
    std::vector<float> impulse(8192, 0.0f);
    impulse[4096] = static_cast<float>(0.35875 * 8192 / 20.0);  // the periodic window sums to 0.35875·n
    write(scope, impulse, impulse);
    analyzer.update(scope);
    EXPECT_NEAR(analyzer.level(990, 1010, 3), -20.0 + 3 * std::log2(std::sqrt(990.0 * 1010.0) / 1000.0), 1e-3);
    EXPECT_NEAR(analyzer.level(4000, 16000, 3), -20.0f + 3.0f * 3.0f, 1e-3f);  // centre 8 kHz
    EXPECT_NEAR(analyzer.level(125, 250, -6), -20.0f + 6.0f * 2.5f, 1e-3f);
    EXPECT_NEAR(analyzer.level(1000.1, 1000.2, 0), -20.0f, 1e-3f);  // narrower than a bin
    EXPECT_NEAR(analyzer.level(0, 100, 3), -20.0f, 1e-3f);          // no tilt down to 0 Hz
    EXPECT_EQ(analyzer.level(30000, 40000, 0), kFloor);             // above Nyquist
    EXPECT_EQ(analyzer.level(std::nan(""), 100, 0), kFloor);
}

TEST(SpectrumAnalyzer, BetweenBinsPeakFrequencyRefinesASineAndNarrowBandsFollowTheCurve) {
    SpectrumAnalyzer analyzer(60.0f, 2);
    Scope scope(48000);
    scope.silence(10000);
    analyzer.update(scope);
    const double w = analyzer.binWidth();
    // A flat curve: the lowest bin of the range, trunc(440 / 2^(1/12) / w) = 141, as it is.
    EXPECT_DOUBLE_EQ(analyzer.peakFrequency(440.0), 141 * w);
    EXPECT_EQ(analyzer.peakFrequency(-5.0), -5.0);
    EXPECT_EQ(analyzer.peakFrequency(1e12), 1e12);
    for (double f : {440.0, 441.3, 1003.7, 6000.7}) {
        writeSine(scope, f, 10000, 0.3);
        analyzer.update(scope);
        // Within 0.5 Hz at 440 Hz; the parabola on the dB curve stays within a quarter bin anywhere.
        const double tolerance = f == 440.0 ? 0.5 : w / 4;
        EXPECT_NEAR(analyzer.peakFrequency(f * 1.03), f, tolerance) << f;
        EXPECT_NEAR(analyzer.peakFrequency(f / 1.03), f, tolerance) << f;
        // A band narrower than a bin reads between its two bins, without jumps, and a bin's own level on it.
        const auto levels = analyzer.levels();
        float previous = analyzer.level(f - 100.01, f - 99.99, 0);
        for (double g = f - 100; g < f + 100; g += w / 50) {
            const float v = analyzer.level(g - 0.01, g + 0.01, 0);
            const std::size_t k = static_cast<std::size_t>(g / w);
            ASSERT_GE(v, std::min(levels[k], levels[k + 1]) - 1e-3f) << g;
            ASSERT_LE(v, std::max(levels[k], levels[k + 1]) + 1e-3f) << g;
            ASSERT_LT(std::abs(v - previous), 2.0f) << g;
            previous = v;
        }
        const std::size_t k = bin(analyzer, f);
        EXPECT_NEAR(analyzer.level(k * w - 0.01, k * w + 0.01, 0), levels[k], 1e-3f) << f;
    }
}

TEST(SpectrumAnalyzer, TwoAnalyzersRePlanAtOnceOnTwoThreads) {
    auto run = [](double phase) {
        SpectrumAnalyzer analyzer(kInfinite, 2);
        Scope scope(48000, 65536);
        for (int round = 0; round < 24; ++round) {
            const double rate = std::array{44100.0, 96000.0, 48000.0, 88200.0}[round % 4];
            scope.configure(rate);
            writeSine(scope, 2000.0, 33000, 1.0, phase);
            analyzer.update(scope);
            ASSERT_EQ(analyzer.sampleRate(), rate);
            EXPECT_NEAR(analyzer.level(1900, 2100, 0), 0.0f, 1.0f);
        }
    };
    std::thread a(run, 0.0), b(run, 1.0);
    a.join();
    b.join();
}
