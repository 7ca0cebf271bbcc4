#include "analysis/spectrum_analyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "analysis/scope_buffer.h"
#include "platform/clock.h"
#include "tests/analysis/scope_signals.h"

using namespace crestline;
using crestline::testing::scaled;
using crestline::testing::sine;

namespace {

constexpr float kInfinite = std::numeric_limits<float>::infinity();

// A scope at `rate` holding `frames` of the given signals.
struct Scope {
    explicit Scope(double rate, int capacity = 32768) : buffer(capacity) { buffer.configure(rate); }
    void write(const std::vector<float>& left, const std::vector<float>& right) {
        crestline::testing::write(buffer, left, right);
    }
    void silence(int frames) {
        const std::vector<float> zeros(static_cast<std::size_t>(frames), 0.0f);
        write(zeros, zeros);
    }
    ScopeBuffer buffer;
};

// A frequency exactly on the bin nearest to `near`.
double onBin(const SpectrumAnalyzer& analyzer, double near) {
    return std::round(near / analyzer.binWidth()) * analyzer.binWidth();
}

std::size_t binOf(const SpectrumAnalyzer& analyzer, double frequency) {
    return static_cast<std::size_t>(std::lround(frequency / analyzer.binWidth()));
}

}  // namespace

TEST(SpectrumAnalyzer, WindowIsAtLeast160MillisecondsAndPaddingMultipliesTheBins) {
    struct Case {
        double rate;
        int padding, size, fftSize;
    };
    for (const Case c : {Case{48000, 2, 8192, 16384}, Case{44100, 1, 8192, 8192}, Case{96000, 2, 16384, 32768},
                         Case{8000, 1, 4096, 4096}, Case{768000, 1, 131072, 131072}}) {
        SpectrumAnalyzer analyzer(60.0f, c.padding);
        EXPECT_EQ(analyzer.size(), 0);
        EXPECT_EQ(analyzer.level(900, 1100, 0), SpectrumAnalyzer::kFloorDb);
        EXPECT_EQ(analyzer.peakFrequency(440.0), 440.0);
        Scope scope(c.rate);
        analyzer.update(scope.buffer);
        EXPECT_EQ(analyzer.size(), c.size) << c.rate;
        EXPECT_EQ(analyzer.fftSize(), c.fftSize) << c.rate;
        EXPECT_EQ(analyzer.levels().size(), static_cast<std::size_t>(c.fftSize / 2));
        EXPECT_DOUBLE_EQ(analyzer.binWidth(), c.rate / c.fftSize);
    }
    EXPECT_EQ(SpectrumAnalyzer(1.0f, 0).padding(), 1);
    EXPECT_EQ(SpectrumAnalyzer(1.0f, 1 << 30).padding(), SpectrumAnalyzer::kMaxPadding);
}

TEST(SpectrumAnalyzer, FullScaleSineOnABinReadsZeroDbInEveryChannelThatCarriesIt) {
    using enum SpectrumChannel;
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (int padding : {1, 2}) {
            SpectrumAnalyzer analyzer(kInfinite, padding);
            Scope scope(rate);
            analyzer.update(scope.buffer);
            const double f = onBin(analyzer, 1000.0);
            const std::size_t bin = binOf(analyzer, f);
            const auto s = sine(f, rate, 20000, 1.0, 0.3);
            struct Expect {
                SpectrumChannel channel;
                bool present;
            };
            // Left and right equal: no side. Right inverted: no mid.
            scope.write(s, s);
            for (const Expect e : {Expect{stereo, true}, Expect{left, true}, Expect{right, true}, Expect{mid, true},
                                   Expect{side, false}}) {
                analyzer.setChannel(e.channel);
                analyzer.update(scope.buffer);
                const float level = analyzer.levels()[bin];
                if (e.present) {
                    EXPECT_NEAR(level, 0.0f, 0.01f) << rate << " Hz, padding " << padding << ", " << rawValue(e.channel);
                } else {
                    EXPECT_EQ(level, SpectrumAnalyzer::kFloorDb) << rate << ", " << rawValue(e.channel);
                }
            }
            scope.write(s, scaled(s, -1.0f));
            for (const Expect e : {Expect{stereo, true}, Expect{left, true}, Expect{right, true}, Expect{side, true},
                                   Expect{mid, false}}) {
                analyzer.setChannel(e.channel);
                analyzer.update(scope.buffer);
                const float level = analyzer.levels()[bin];
                if (e.present) {
                    EXPECT_NEAR(level, 0.0f, 0.01f) << rate << " Hz, padding " << padding << ", " << rawValue(e.channel);
                } else {
                    EXPECT_EQ(level, SpectrumAnalyzer::kFloorDb) << rate << ", " << rawValue(e.channel);
                }
            }
        }
    }
}

TEST(SpectrumAnalyzer, StereoAveragesThePowerOfBothChannels) {
    SpectrumAnalyzer analyzer(kInfinite, 2);
    Scope scope(48000);
    analyzer.update(scope.buffer);
    const double f1 = onBin(analyzer, 500.0), f2 = onBin(analyzer, 3000.0);
    scope.write(sine(f1, 48000, 10000, 0.5), sine(f2, 48000, 10000));
    analyzer.update(scope.buffer);
    EXPECT_NEAR(analyzer.levels()[binOf(analyzer, f1)], -6.02f - 3.01f, 0.02f);
    EXPECT_NEAR(analyzer.levels()[binOf(analyzer, f2)], -3.01f, 0.02f);
    analyzer.setChannel(SpectrumChannel::right);
    analyzer.update(scope.buffer);
    EXPECT_LT(analyzer.levels()[binOf(analyzer, f1)], -120.0f);
    EXPECT_NEAR(analyzer.levels()[binOf(analyzer, f2)], 0.0f, 0.01f);
}

TEST(SpectrumAnalyzer, SilenceReadsMinus200InEveryBin) {
    SpectrumAnalyzer analyzer(60.0f, 2);
    Scope scope(48000);
    scope.silence(20000);
    analyzer.update(scope.buffer);
    for (float level : analyzer.levels()) ASSERT_EQ(level, SpectrumAnalyzer::kFloorDb);
    // Bin 0 holds neither DC nor Nyquist.
    const std::vector<float> dc(20000, 0.5f);
    scope.write(dc, dc);
    analyzer.update(scope.buffer);
    EXPECT_EQ(analyzer.levels()[0], SpectrumAnalyzer::kFloorDb);
}

TEST(SpectrumAnalyzer, BinsFallAtTheReleaseRateWithOneUpdateCappedAtAQuarterSecond) {
    for (double gap : {0.25, 2.0}) {
        FakeClock clock;
        SpectrumAnalyzer analyzer(60.0f, 2, clock);
        Scope scope(48000);
        analyzer.update(scope.buffer);
        const double f = onBin(analyzer, 2000.0);
        const std::size_t bin = binOf(analyzer, f);
        const auto s = sine(f, 48000, 10000);
        scope.write(s, s);
        clock.advance(0.02);
        analyzer.update(scope.buffer);
        EXPECT_NEAR(analyzer.levels()[bin], 0.0f, 0.01f);  // rises at once

        scope.silence(10000);
        clock.advance(gap);
        analyzer.update(scope.buffer);
        EXPECT_NEAR(analyzer.levels()[bin], -15.0f, 0.01f) << "after " << gap << " s";
        clock.advance(0.1);
        analyzer.update(scope.buffer);
        EXPECT_NEAR(analyzer.levels()[bin], -21.0f, 0.01f);
        clock.advance(0.0);
        analyzer.update(scope.buffer);
        EXPECT_NEAR(analyzer.levels()[bin], -21.0f, 0.01f);
    }
}

TEST(SpectrumAnalyzer, PeakHoldKeepsTheMaximumAndRestartsFromTheCurrentCurveOnEverySwitch) {
    FakeClock clock;
    SpectrumAnalyzer analyzer(kInfinite, 1, clock);
    Scope scope(48000);
    analyzer.update(scope.buffer);
    const double f = onBin(analyzer, 1000.0);
    const std::size_t bin = binOf(analyzer, f);
    const auto loud = sine(f, 48000, 10000), quiet = sine(f, 48000, 10000, 0.1);

    analyzer.setHolding(true);
    scope.write(loud, loud);
    analyzer.update(scope.buffer);
    scope.write(quiet, quiet);
    analyzer.update(scope.buffer);
    EXPECT_NEAR(analyzer.levels()[bin], -20.0f, 0.01f);
    EXPECT_NEAR(analyzer.held()[bin], 0.0f, 0.01f);

    analyzer.setHolding(false);  // the held curve restarts from −20…
    analyzer.setHolding(true);
    EXPECT_NEAR(analyzer.held()[bin], -20.0f, 0.01f);
    scope.silence(10000);
    analyzer.update(scope.buffer);  // …and does not decay
    EXPECT_NEAR(analyzer.held()[bin], -20.0f, 0.01f);
    EXPECT_EQ(analyzer.levels()[bin], SpectrumAnalyzer::kFloorDb);
    // The peak is read from the held curve while holding.
    EXPECT_NEAR(analyzer.peakFrequency(f * 1.01), f, 0.5);

    // A new rate gives the curve another length: the hold re-seeds itself.
    scope.buffer.configure(96000);
    analyzer.update(scope.buffer);
    ASSERT_EQ(analyzer.held().size(), analyzer.levels().size());
    EXPECT_TRUE(std::equal(analyzer.held().begin(), analyzer.held().end(), analyzer.levels().begin()));
}

TEST(SpectrumAnalyzer, ANewRateResetsTheLevelsAndAnUnsupportedOneChangesNothing) {
    FakeClock clock;
    SpectrumAnalyzer analyzer(10.0f, 2, clock);
    Scope scope(48000);
    const auto s = sine(1000, 48000, 10000);
    scope.write(s, s);
    analyzer.update(scope.buffer);
    EXPECT_EQ(analyzer.size(), 8192);
    EXPECT_GT(analyzer.level(900, 1100, 0), -1.0f);

    // 44.1 kHz keeps the length but still re-prepares: the release restarts
    // from −200 instead of holding up the old curve.
    scope.buffer.configure(44100);
    scope.silence(10000);
    clock.advance(0.01);
    analyzer.update(scope.buffer);
    EXPECT_EQ(analyzer.sampleRate(), 44100.0);
    EXPECT_EQ(analyzer.level(900, 1100, 0), SpectrumAnalyzer::kFloorDb);

    scope.buffer.configure(std::numeric_limits<double>::quiet_NaN());
    scope.buffer.configure(0.0);
    analyzer.update(scope.buffer);
    EXPECT_EQ(analyzer.sampleRate(), 44100.0);
    EXPECT_EQ(analyzer.size(), 8192);
}

TEST(SpectrumAnalyzer, ShortScopeBuffersLeaveNoStaleAudioInTheWindow) {
    SpectrumAnalyzer analyzer(kInfinite, 1);
    Scope scope(48000, 1000);
    const auto s = sine(1000, 48000, 1000);
    scope.write(s, s);
    analyzer.update(scope.buffer);
    // The frames land at the start of the window, where it is nearly closed.
    EXPECT_GT(analyzer.level(950, 1050, 0), -100.0f);
    scope.silence(1000);
    analyzer.update(scope.buffer);
    EXPECT_EQ(analyzer.level(20, 20000, 0), SpectrumAnalyzer::kFloorDb);
}

TEST(SpectrumAnalyzer, LevelTakesTheBandMaximumPlusATiltPivotingAtOneKilohertz) {
    // A centred impulse of height Σw/20 has a flat spectrum at exactly −20 dB.
    SpectrumAnalyzer analyzer(kInfinite, 2);
    Scope scope(48000);
    analyzer.update(scope.buffer);
    double windowSum = 0.0;
    for (int i = 0; i < 8192; ++i) {
        const double theta = 2.0 * 3.141592653589793 * i / 8192;
        windowSum += 0.35875 - 0.48829 * std::cos(theta) + 0.14128 * std::cos(2 * theta) - 0.01168 * std::cos(3 * theta);
    }
    std::vector<float> impulse(8192, 0.0f);
    impulse[4096] = static_cast<float>(windowSum / 20.0);
    scope.write(impulse, impulse);
    analyzer.update(scope.buffer);

    EXPECT_NEAR(analyzer.level(990, 1010, 3), -20.0 + 3 * std::log2(std::sqrt(990.0 * 1010.0) / 1000.0), 1e-3);
    EXPECT_NEAR(analyzer.level(990, 1010, 3), -20.0f, 1e-3f);
    EXPECT_NEAR(analyzer.level(4000, 16000, 3), -20.0f + 3.0f * 3.0f, 1e-3f);  // centre 8 kHz: three octaves up
    EXPECT_NEAR(analyzer.level(125, 250, -6), -20.0f + 6.0f * 2.5f, 1e-3f);
    EXPECT_NEAR(analyzer.level(1000.1, 1000.2, 0), -20.0f, 1e-3f);  // narrower than a bin
    EXPECT_NEAR(analyzer.level(0, 100, 3), -20.0f, 1e-3f);          // no tilt down to 0 Hz
    EXPECT_EQ(analyzer.level(30000, 40000, 0), SpectrumAnalyzer::kFloorDb);  // above Nyquist
    EXPECT_EQ(analyzer.level(std::numeric_limits<double>::quiet_NaN(), 100, 0), SpectrumAnalyzer::kFloorDb);
}

TEST(SpectrumAnalyzer, NarrowBandLevelsFollowTheCurveSmoothlyBetweenBins) {
    SpectrumAnalyzer analyzer(kInfinite, 1);
    Scope scope(48000);
    const auto s = sine(1003.7, 48000, 10000);
    scope.write(s, s);
    analyzer.update(scope.buffer);
    const double w = analyzer.binWidth();
    float previous = analyzer.level(900 - 0.01, 900 + 0.01, 0);
    for (double f = 900; f < 1100; f += w / 50) {
        const float v = analyzer.level(f - 0.01, f + 0.01, 0);
        const std::size_t k = static_cast<std::size_t>(f / w);
        // Within the neighbouring bins, and continuous across bin edges.
        EXPECT_GE(v, std::min(analyzer.levels()[k], analyzer.levels()[k + 1]) - 1e-3f) << f;
        EXPECT_LE(v, std::max(analyzer.levels()[k], analyzer.levels()[k + 1]) + 1e-3f) << f;
        EXPECT_LT(std::abs(v - previous), 2.0f) << f;
        previous = v;
    }
    // On a bin centre the curve passes through the bin itself.
    const double f = 171 * w;
    EXPECT_NEAR(analyzer.level(f - 0.01, f + 0.01, 0), analyzer.levels()[171], 1e-3f);
}

TEST(SpectrumAnalyzer, PeakFrequencyRefinesASineBetweenBinsToWithinHalfAHertz) {
    SpectrumAnalyzer analyzer(60.0f, 2);
    Scope scope(48000);
    const auto a = sine(440.0, 48000, 10000, 0.3);
    scope.write(a, a);
    analyzer.update(scope.buffer);
    EXPECT_NEAR(analyzer.peakFrequency(440.0 * 1.03), 440.0, 0.5);
    EXPECT_NEAR(analyzer.peakFrequency(440.0 / 1.03), 440.0, 0.5);
    // Elsewhere the parabola on the dB curve stays within a quarter bin.
    for (double f : {441.3, 1234.5, 6000.7}) {
        const auto s = sine(f, 48000, 10000, 0.3);
        scope.write(s, s);
        analyzer.update(scope.buffer);
        EXPECT_NEAR(analyzer.peakFrequency(f * 1.03), f, analyzer.binWidth() / 4) << f;
    }
}

TEST(SpectrumAnalyzer, PeakFrequencyOnAFlatCurveIsTheLowestBinWithoutInterpolation) {
    SpectrumAnalyzer analyzer(60.0f, 2);
    Scope scope(48000);
    scope.silence(10000);
    analyzer.update(scope.buffer);
    // lo = trunc(440 / 2^(1/12) / w) = 141
    EXPECT_DOUBLE_EQ(analyzer.peakFrequency(440.0), 141 * analyzer.binWidth());
    EXPECT_EQ(analyzer.peakFrequency(-5.0), -5.0);
    EXPECT_EQ(analyzer.peakFrequency(1e12), 1e12);
    EXPECT_DOUBLE_EQ(analyzer.peakFrequency(0.5), analyzer.binWidth());
}

TEST(SpectrumAnalyzer, TwoAnalyzersRePlanAtOnceOnTwoThreads) {
    auto run = [](double phase) {
        SpectrumAnalyzer analyzer(kInfinite, 2);
        Scope scope(48000, 65536);
        const double rates[] = {44100.0, 96000.0, 48000.0, 88200.0};
        for (int round = 0; round < 24; ++round) {
            const double rate = rates[round % 4];
            scope.buffer.configure(rate);
            const auto s = sine(2000.0, rate, 33000, 1.0, phase);
            scope.write(s, s);
            analyzer.update(scope.buffer);
            ASSERT_EQ(analyzer.sampleRate(), rate);
            EXPECT_NEAR(analyzer.level(1900, 2100, 0), 0.0f, 1.0f);
        }
    };
    std::thread a(run, 0.0), b(run, 1.0);
    a.join();
    b.join();
}
