#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "analysis/loudness_meter.h"
#include "tests/analysis/signals.h"

using namespace crestline;
using namespace crestline::test;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

LoudnessReading measure(const Stereo& s, double rate, bool autoReset = true) {
    Meter meter(rate);
    meter.setAutoResetEnabled(autoReset);
    feed(meter, s);
    return meter.reading();
}

}  // namespace

TEST(LoudnessMeter, StereoSineAtMinus23dBFSReadsMinus23LufsAtEveryRate) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const LoudnessReading r = measure(sine(rate, 1000.0, -23.0, 10.0), rate);
        for (double level : {r.momentary, r.shortTerm, r.integrated, r.truePeak, r.shortTermPeak}) {
            EXPECT_NEAR(level, -23.0, 0.1) << rate;
        }
        EXPECT_EQ(r.overs, 0);
    }
}

TEST(LoudnessMeter, SilenceHasNoValuesAndWindowsWarmUpAtTheirOwnPaceAlsoAfterAReset) {
    expectSameReading(measure(silence(48000.0, 5.0), 48000.0), LoudnessReading{});
    Meter meter(48000.0);
    feed(meter, sine(48000.0, 1000.0, -20.0, 0.39));
    EXPECT_EQ(meter.reading().momentary, -kInf);         // 39 steps of 10 ms
    EXPECT_NEAR(meter.reading().shortTerm, -20.0, 0.3);  // from the first hop on
    feed(meter, sine(48000.0, 1000.0, -20.0, 0.01));
    EXPECT_NEAR(meter.reading().momentary, -20.0, 0.1);
    EXPECT_NEAR(meter.reading().integrated, -20.0, 0.1);
    meter.withLock([](LoudnessMeter& m) { m.resetShortTermLocked(); });  // the window grows back from one hop
    feed(meter, sine(48000.0, 1000.0, -30.0, 0.1));
    EXPECT_NEAR(meter.reading().shortTerm, -30.0, 0.2);
}

TEST(LoudnessMeter, CorrelationOfIdenticalOppositeAndOneSidedChannels) {
    Stereo s = sine(48000.0, 440.0, -12.0, 1.0);
    EXPECT_NEAR(measure(s, 48000.0).correlation, 1.0, 1e-9);
    for (float& v : s.right) v = -v;
    EXPECT_NEAR(measure(s, 48000.0).correlation, -1.0, 1e-9);
    std::fill(s.right.begin(), s.right.end(), 0.0f);
    EXPECT_EQ(measure(s, 48000.0).correlation, 0.0);
}

TEST(LoudnessMeter, OversCountEachRiseAboveMinusOneDbtp) {
    Stereo s = constant(0.3f, 2000);
    s.then(constant(0.95f, 3000)).then(constant(0.3f, 2000)).then(constant(0.95f, 5000)).then(constant(0.3f, 9000));
    Meter meter(48000.0);
    feed(meter, s, 333);
    EXPECT_EQ(meter.reading().overs, 2);
    // Still above the line after a reset: that is a new over.
    feed(meter, constant(0.95f, 1000));
    meter.withLock([](LoudnessMeter& m) { m.resetTruePeakLocked(); });
    EXPECT_EQ(meter.reading().overs, 0);
    EXPECT_EQ(meter.reading().truePeak, -kInf);
    feed(meter, constant(0.95f, 5000));
    EXPECT_EQ(meter.reading().overs, 1);
}

TEST(LoudnessMeter, SilenceAutoResetRestartsIntegratedAndKeepsTheOnsetPeak) {
    const double rate = 48000.0;
    // Loud, 4 s of silence, then quiet music whose first hop holds a click above −1 dBTP.
    Stereo music = sine(rate, 1000.0, -30.0, 8.0);
    music.left[100] = music.right[100] = 0.95f;
    Stereo s = sine(rate, 1000.0, -10.0, 10.0);
    s.then(silence(rate, 4.0)).then(music);
    // The same music after a pause too short to trigger anything, cut into hops alike.
    const LoudnessReading expected = measure(silence(rate, 0.5).then(music), rate);
    const LoudnessReading on = measure(s, rate, true);
    expectSameReading(on, expected);  // the onset keeps its peak and overs
    EXPECT_NEAR(on.integrated, -30.0, 0.1);
    EXPECT_NEAR(on.truePeak, 20.0 * std::log10(0.95), 0.05);
    EXPECT_GE(on.overs, 1);

    EXPECT_NEAR(measure(s, rate, false).integrated, -10.0, 0.2);  // the loud blocks stay in the gate
    Stereo shortGap = sine(rate, 1000.0, -10.0, 10.0);
    shortGap.then(silence(rate, 2.5)).then(sine(rate, 1000.0, -30.0, 8.0));
    EXPECT_NEAR(measure(shortGap, rate, true).integrated, -10.0, 0.5);
}

TEST(LoudnessMeter, LoudnessRangeNeedsTenBlocksAboveTheAbsoluteGate) {
    Meter meter(48000.0);
    feed(meter, sine(48000.0, 1000.0, -20.0, 11.95));
    EXPECT_EQ(meter.reading().loudnessRange, -kInf);  // blocks at 3, 4, ... 11 s
    feed(meter, sine(48000.0, 1000.0, -20.0, 0.05));
    EXPECT_EQ(meter.reading().loudnessRange, 0.0);
    const LoudnessReading quiet = measure(sine(48000.0, 1000.0, -75.0, 20.0), 48000.0);
    EXPECT_EQ(quiet.loudnessRange, -kInf);
    EXPECT_EQ(quiet.integrated, -kInf);
}

TEST(LoudnessMeter, PercentileInTheTopBinReadsItsLowerEdge) {
    std::vector<long long> counts(1000, 0);
    counts[999] = 12;
    EXPECT_EQ(rangePercentile(counts.data(), 0, 12, 0.95), 29.900000000000006);
    EXPECT_EQ(rangePercentile(counts.data(), 1000, 12, 0.10), 29.900000000000006);
    counts[10] = 2;  // the 10 % point of 14 blocks is the second: bin 10
    EXPECT_EQ(rangePercentile(counts.data(), 0, 14, 0.10), 10 / 10.0 - 70.0);
    // Through the meter: everything above +29.9 LUFS shares the top bin,
    // while the integrated mean uses the exact powers.
    const double rate = 8000.0;
    const LoudnessReading loud = measure(sine(rate, 1000.0, 35.0, 20.0), rate);
    EXPECT_EQ(loud.loudnessRange, 0.0);
    EXPECT_NEAR(loud.integrated, 35.0, 0.1);
    Stereo mixed = sine(rate, 1000.0, 25.05, 20.0);
    EXPECT_NEAR(measure(mixed.then(sine(rate, 1000.0, 40.0, 20.0)), rate).loudnessRange, 29.900000000000006 - 25.0,
                1e-9);
    // A relative gate above the top bin lets no block through.
    EXPECT_EQ(measure(sine(rate, 1000.0, 40.0, 5.0), rate).integrated, -kInf);
}

TEST(LoudnessMeter, CopyHistoryGivesTheNewestHopsOldestFirstAcrossTheRingsWrap) {
    Meter meter(8000.0);  // 800-sample hops
    std::vector<float> out(3, 42.0f);
    EXPECT_EQ(meter.copyHistory(10, HistorySource::shortTerm, out), 0);
    EXPECT_EQ(out, std::vector<float>(3, 42.0f));  // untouched
    // Hop k holds a constant at −3·(k mod 7) dB re 0.5; 7000 hops wrap the
    // 6000-entry history and the 30-slot hop ring many times.
    const auto levelDb = [](int hop) { return -3.0 * (hop % 7); };
    for (int hop = 0; hop < 7000; ++hop) {
        feed(meter, constant(static_cast<float>(0.5 * std::pow(10.0, levelDb(hop) / 20.0)), 800));
    }
    ASSERT_EQ(meter.copyHistory(10000, HistorySource::truePeak, out), 6000);
    for (int k = 0; k < 6000; ++k) {
        // A hop's first samples are interpolated with the previous hop's last ones.
        const double expected = std::max(levelDb(1000 + k), levelDb(999 + k)) - 6.02;
        ASSERT_NEAR(out[static_cast<std::size_t>(k)], expected, 1.0) << "entry " << k;
    }
    std::vector<float> longer(8, 7.0f);
    EXPECT_EQ(meter.copyHistory(2, HistorySource::truePeak, longer), 2);
    EXPECT_EQ(longer[1], out[5999]);
    EXPECT_EQ(longer[2], 7.0f);  // a longer output keeps its tail
    const LoudnessReading r = meter.reading();
    EXPECT_EQ(meter.copyHistory(1, HistorySource::shortTerm, out), 1);
    EXPECT_EQ(out[0], static_cast<float>(r.shortTerm));
    meter.copyHistory(1, HistorySource::psr, out);
    EXPECT_NEAR(out[0], r.shortTermPeak - r.shortTerm, 1e-5);
}

TEST(LoudnessMeter, ResultsDoNotDependOnHowTheStreamIsCutIntoBlocks) {
    const double rate = 22050.0;  // hops of 2205 and steps of 221 samples never align
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    Stereo s = silence(rate, 6.0);
    for (std::size_t i = 0; i < s.left.size(); ++i) {
        const float envelope = (i / 7000) % 3 == 0 ? 0.1f : 1.0f;
        s.left[i] = envelope * noise(random);
        s.right[i] = envelope * (0.5f * s.left[i] + noise(random));
    }
    Meter a(rate), b(rate);
    feed(a, s, 512);
    feed(b, s, 1);
    expectSameReading(b.reading(), a.reading());
    EXPECT_GE(a.reading().overs, 2);
    std::vector<float> ha, hb;
    a.copyHistory(100, HistorySource::momentary, ha);
    b.copyHistory(100, HistorySource::momentary, hb);
    EXPECT_EQ(ha, hb);
}

TEST(LoudnessMeter, ConfigureRefusesBadRatesAndOtherwiseRestartsAllButMomentary) {
    LoudnessMeter meter;
    ASSERT_TRUE(meter.configure(44100.0));
    feed(meter, sine(44100.0, 1000.0, -18.0, 4.0));
    for (double bad : {0.0, -48000.0, 7999.0, 768001.0, std::nan(""), kInf}) EXPECT_FALSE(meter.configure(bad)) << bad;
    EXPECT_EQ(meter.sampleRate(), 44100.0);
    EXPECT_NEAR(meter.reading().integrated, -18.0, 0.1);  // refused: nothing was touched
    ASSERT_TRUE(meter.configure(768000.0));
    LoudnessReading kept;  // until the next update
    kept.momentary = meter.reading().momentary;
    kept.shortTermPeak = meter.reading().shortTermPeak;
    expectSameReading(meter.reading(), kept);
    EXPECT_NEAR(kept.momentary, -18.0, 0.1);
    std::vector<float> out;
    EXPECT_EQ(meter.copyHistory(10, HistorySource::momentary, out), 0);
}
