// The EBU test signals that can be synthesised at 48 kHz: Tech 3341 (loudness meters), stereo
// and five-channel, and Tech 3342 (loudness range); surround files' channel weights; several
// measurements gated as one programme. Each case prints its figures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <tuple>
#include <vector>
#include <numbers>
#include <utility>

#include "analysis/gating_histograms.h"
#include "analysis/loudness_meter.h"
#include "tests/analysis/signals.h"

using namespace crestline;
using namespace crestline::test;

namespace {

constexpr double kRate = 48000.0;

// Consecutive 1 kHz segments of (level in dBFS, seconds).
Stereo segments(std::initializer_list<std::pair<double, double>> parts) {
    Stereo s;
    for (const auto& [dbfs, seconds] : parts) s.then(sine(kRate, 1000.0, dbfs, seconds));
    return s;
}

LoudnessReading run(const char* name, const Stereo& s) {
    Meter meter(kRate);
    feed(meter, s);
    const LoudnessReading r = meter.reading();
    std::printf("[conformance] %s: M %.2f S %.2f I %.2f LRA %.2f TP %.2f\n", name, r.momentary, r.shortTerm,
                r.integrated, r.loudnessRange, r.truePeak);
    return r;
}

}  // namespace

TEST(Tech3341, Cases1To5SteadyLevelsAndGating) {
    EXPECT_NEAR(run("3341 case 1", segments({{-23.0, 20.0}})).momentary, -23.0, 0.1);
    const LoudnessReading two = run("3341 case 2", segments({{-33.0, 20.0}}));
    EXPECT_NEAR(two.shortTerm, -33.0, 0.1);
    EXPECT_NEAR(two.integrated, -33.0, 0.1);
    EXPECT_NEAR(run("3341 case 3", segments({{-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}})).integrated, -23.0, 0.1);
    EXPECT_NEAR(run("3341 case 4", segments({{-72.0, 10.0}, {-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}, {-72.0, 10.0}}))
                    .integrated,
                -23.0, 0.1);
    EXPECT_NEAR(run("3341 case 5", segments({{-26.0, 20.0}, {-20.0, 20.1}, {-26.0, 20.0}})).integrated, -23.0, 0.1);
}

TEST(Tech3341, Case9ShortTermOfAThreeSecondPatternIsSteady) {
    Stereo s;
    for (int k = 0; k < 20; ++k) s.then(segments({{-20.0, 1.34}, {-30.0, 1.66}}));
    Meter meter(kRate);
    double lowest = 0.0, highest = -100.0;
    for (int done = 0; done < s.frames(); done += 4800) {
        meter.process(s.left.data() + done, s.right.data() + done, std::min(4800, s.frames() - done));
        if (done < 3 * 48000) continue;
        lowest = std::min(lowest, meter.reading().shortTerm);
        highest = std::max(highest, meter.reading().shortTerm);
    }
    std::printf("[conformance] 3341 case 9: S between %.3f and %.3f\n", lowest, highest);
    EXPECT_NEAR(lowest, -23.0, 0.1);
    EXPECT_NEAR(highest, -23.0, 0.1);
}

TEST(Tech3341, Cases15To18TruePeakOfMinus6DbfsSines) {
    // A 20 ms fade-in: an abrupt start rings above the sine's own peak in any
    // band-limited reconstruction, which is not what these cases test.
    const auto measure = [](const char* name, double frequency, double dbfs, double phase) {
        Stereo s = sine(kRate, frequency, dbfs, 1.0, phase);
        for (int i = 0; i < 960; ++i) {
            const auto g = static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * i / 960));
            s.left[static_cast<std::size_t>(i)] *= g;
            s.right[static_cast<std::size_t>(i)] *= g;
        }
        return run(name, s).truePeak;
    };
    for (const auto& [name, frequency, phase] : {std::tuple{"3341 case 15", kRate / 4, 0.0},
                                                 {"3341 case 16", kRate / 4, 45.0},
                                                 {"3341 case 17", kRate / 6, 60.0},
                                                 {"3341 case 18", kRate / 8, 67.5}}) {
        const double tp = measure(name, frequency, -6.0, phase);
        EXPECT_GE(tp, -6.4) << name;
        EXPECT_LE(tp, -5.8) << name;
    }
    // Samples at 0 dBFS of a quarter-rate sine at 45°: the wave peaks at +3 dBTP.
    const double over = measure("fs/4 at 45 degrees, samples at 0 dBFS", kRate / 4, 20.0 * std::log10(std::sqrt(2.0)), 45.0);
    EXPECT_GE(over, 2.6);
    EXPECT_LE(over, 3.2);
}

TEST(Tech3342, Cases1To4LoudnessRange) {
    EXPECT_NEAR(run("3342 case 1", segments({{-20.0, 20.0}, {-30.0, 20.0}})).loudnessRange, 10.0, 1.0);
    EXPECT_NEAR(run("3342 case 2", segments({{-20.0, 20.0}, {-15.0, 20.0}})).loudnessRange, 5.0, 1.0);
    EXPECT_NEAR(run("3342 case 3", segments({{-40.0, 20.0}, {-20.0, 20.0}})).loudnessRange, 20.0, 1.0);
    EXPECT_NEAR(run("3342 case 4", segments({{-50.0, 20.0}, {-35.0, 20.0}, {-20.0, 20.0}, {-35.0, 20.0}, {-50.0, 20.0}}))
                    .loudnessRange,
                15.0, 1.0);
}

// ---- More than two channels -------------------------------------------------

namespace {

// Channels of one length, metered through the multichannel entry in blocks
// of `block` frames.
LoudnessReading runChannels(const char* name, const std::vector<std::vector<float>>& channels,
                            const std::vector<double>& weights, int left = 0, int right = 1, int block = 512) {
    LoudnessMeter meter;
    EXPECT_TRUE(meter.configureChannels(kRate, weights, left, right));
    const int frames = static_cast<int>(channels.front().size());
    std::vector<const float*> at(channels.size());
    for (int done = 0; done < frames; done += block) {
        for (std::size_t c = 0; c < channels.size(); ++c) at[c] = channels[c].data() + done;
        meter.processChannels(at.data(), std::min(block, frames - done));
    }
    const LoudnessReading r = meter.reading();
    std::printf("[conformance] %s: M %.2f S %.2f I %.2f TP %.2f\n", name, r.momentary, r.shortTerm, r.integrated,
                r.truePeak);
    return r;
}

std::vector<float> tone(double frequency, double dbfs, double seconds) {
    return wave(frequency, kRate, static_cast<int>(std::lround(seconds * kRate)), std::pow(10.0, dbfs / 20.0));
}

constexpr double kSurround = 1.41;

}  // namespace

TEST(Tech3341, Case6FiveChannelsWithWeightedSurroundsReadMinus23) {
    const auto lr = tone(1000.0, -28.0, 20.0), c = tone(1000.0, -24.0, 20.0), s = tone(1000.0, -30.0, 20.0);
    const LoudnessReading r = runChannels("3341 case 6", {lr, lr, c, s, s}, {1.0, 1.0, 1.0, kSurround, kSurround});
    EXPECT_NEAR(r.momentary, -23.0, 0.1);
    EXPECT_NEAR(r.shortTerm, -23.0, 0.1);
    EXPECT_NEAR(r.integrated, -23.0, 0.1);
    EXPECT_NEAR(r.truePeak, -24.0, 0.1);  // the centre, the loudest channel
    EXPECT_NEAR(r.correlation, 1.0, 1e-9);
}

TEST(Surround, ALoudLfeCountsForTheTruePeakOnly) {
    // 5.1 in file order L R C LFE Ls Rs; the LFE a 60 Hz tone far above the rest.
    const auto lr = tone(1000.0, -28.0, 12.0), c = tone(1000.0, -24.0, 12.0), s = tone(1000.0, -30.0, 12.0);
    const auto lfe = tone(60.0, -3.0, 12.0);
    const LoudnessReading with = runChannels("5.1 loud LFE", {lr, lr, c, lfe, s, s},
                                             {1.0, 1.0, 1.0, 0.0, kSurround, kSurround});
    const LoudnessReading without = runChannels("5.0", {lr, lr, c, s, s}, {1.0, 1.0, 1.0, kSurround, kSurround});
    EXPECT_EQ(with.integrated, without.integrated);
    EXPECT_EQ(with.momentary, without.momentary);
    EXPECT_EQ(with.loudnessRange, without.loudnessRange);
    EXPECT_NEAR(with.truePeak, -3.0, 0.1);
    EXPECT_NEAR(without.truePeak, -24.0, 0.1);
}

TEST(Surround, TwoChannelsThroughTheMultichannelEntryReadAsTheStereoPath) {
    // Music-like enough to exercise every path: a level change, silence
    // (auto reset), overs, odd blocks that cut chunks and hops anywhere.
    Stereo s = sine(kRate, 440.0, -12.0, 6.0);
    s.then(silence(kRate, 3.5)).then(sine(kRate, 3000.0, 0.5, 4.0, 30.0)).then(sine(kRate, 60.0, -12.0, 14.0));
    for (std::size_t i = 0; i < s.left.size(); i += 7) s.right[i] *= -0.5f;
    Meter stereo(kRate);
    feed(stereo, s, 1000);
    const LoudnessReading multi =
        runChannels("2 channels, multichannel entry", {s.left, s.right}, {1.0, 1.0}, 0, 1, 733);
    expectSameReading(stereo.reading(), multi);
    EXPECT_GT(multi.overs, 0);
    EXPECT_TRUE(std::isfinite(multi.loudnessRange));
}

TEST(Surround, CorrelationNeedsBothFrontChannelsAndBadLayoutsAreRefused) {
    const auto a = tone(1000.0, -20.0, 1.0);
    EXPECT_TRUE(std::isnan(runChannels("no front pair", {a, a, a}, {1.0, 1.0, 1.0}, -1, 2).correlation));

    LoudnessMeter meter;
    ASSERT_TRUE(meter.configureChannels(kRate, std::vector<double>{1.0, 1.0, 1.0}, 0, 1));
    const std::vector<const float*> at{a.data(), a.data(), a.data()};
    meter.processChannels(at.data(), static_cast<int>(a.size()));
    const LoudnessReading before = meter.reading();
    const double nan = std::nan("");
    for (const auto& [weights, left, right, rate] : std::vector<std::tuple<std::vector<double>, int, int, double>>{
             {{}, -1, -1, kRate},
             {std::vector<double>(9, 1.0), 0, 1, kRate},
             {{1.0, -1.0, 1.0}, 0, 1, kRate},
             {{1.0, nan, 1.0}, 0, 1, kRate},
             {{1.0, 1.0, 1.0}, 0, 3, kRate},
             {{1.0, 1.0, 1.0}, -2, 1, kRate},
             {{1.0, 1.0, 1.0}, 0, 1, 4000.0}}) {
        EXPECT_FALSE(meter.configureChannels(rate, weights, left, right)) << weights.size() << " " << right;
    }
    expectSameReading(meter.reading(), before);
}

// ---- Several measurements as one programme ----------------------------------

TEST(Programme, OneMeasurementsHistogramsGiveItsOwnReadingsExactly) {
    for (const Stereo& s : {segments({{-20.0, 20.0}, {-30.0, 20.0}}), segments({{-36.0, 10.0}, {-23.0, 30.0}}),
                            segments({{-72.0, 5.0}, {-10.0, 15.0}})}) {
        Meter meter(kRate);
        feed(meter, s);
        const GatingHistograms h = meter.gatingHistograms();
        EXPECT_EQ(h.integrated(), meter.reading().integrated);
        EXPECT_EQ(h.loudnessRange(), meter.reading().loudnessRange);
    }
    const GatingHistograms empty;
    EXPECT_EQ(empty.integrated(), LoudnessReading::kNoValue);
    EXPECT_EQ(empty.loudnessRange(), LoudnessReading::kNoValue);
}

TEST(Programme, AddedHistogramsGateAsOneStreamOfBothParts) {
    // Tech 3342 case 3 cut in two: −20 dBFS in one "file", −40 in the other.
    Meter first(kRate), second(kRate), whole(kRate);
    feed(first, segments({{-20.0, 20.0}}));
    feed(second, segments({{-40.0, 20.0}}));
    feed(whole, segments({{-20.0, 20.0}, {-40.0, 20.0}}));
    GatingHistograms album = first.gatingHistograms();
    album.add(second.gatingHistograms());
    std::printf("[conformance] programme of two: I %.3f (one stream %.3f) LRA %.2f (one stream %.2f)\n",
                album.integrated(), whole.reading().integrated, album.loudnessRange(), whole.reading().loudnessRange);
    EXPECT_NEAR(album.integrated(), whole.reading().integrated, 0.05);
    EXPECT_NEAR(album.loudnessRange(), whole.reading().loudnessRange, 0.2);
    // The relative gate drops the quiet file: neither the mean of the two
    // values (−30) nor of their powers (−23).
    EXPECT_NEAR(album.integrated(), -20.0, 0.1);
    EXPECT_NEAR(album.loudnessRange(), 20.0, 1.0);
}
