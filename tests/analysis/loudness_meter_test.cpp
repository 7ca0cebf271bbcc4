#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "analysis/loudness_meter.h"
#include "tests/analysis/loudness_signals.h"

using namespace crestline;
using crestline::test::feed;
using crestline::test::silence;
using crestline::test::sine;
using crestline::test::Stereo;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

LoudnessReading measure(const Stereo& s, double rate, bool autoReset = true, int block = 512) {
    LoudnessMeter meter;
    EXPECT_TRUE(meter.configure(rate));
    meter.setAutoResetEnabled(autoReset);
    feed(meter, s, block);
    return meter.reading();
}

// Stereo material with independent channels, changing level and a few
// overs, so that every part of the meter has something to do.
Stereo busyMaterial(double rate, double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    Stereo s = silence(rate, seconds);
    for (int i = 0; i < s.frames(); ++i) {
        const float envelope = (i / static_cast<int>(rate / 3)) % 3 == 0 ? 0.1f : 1.0f;
        s.left[static_cast<std::size_t>(i)] = envelope * noise(random);
        s.right[static_cast<std::size_t>(i)] = envelope * (0.5f * s.left[static_cast<std::size_t>(i)] + noise(random));
    }
    s.left[12345] = 0.99f;
    s.right[40000] = -1.2f;
    return s;
}

}  // namespace

class StereoSineAtMinus23 : public ::testing::TestWithParam<double> {};

TEST_P(StereoSineAtMinus23, ReadsMinus23LufsMomentaryShortTermAndIntegrated) {
    const double rate = GetParam();
    const LoudnessReading r = measure(sine(rate, 1000.0, -23.0, 10.0), rate);
    EXPECT_NEAR(r.momentary, -23.0, 0.1);
    EXPECT_NEAR(r.shortTerm, -23.0, 0.1);
    EXPECT_NEAR(r.integrated, -23.0, 0.1);
    EXPECT_NEAR(r.truePeak, -23.0, 0.1);
    EXPECT_NEAR(r.shortTermPeak, -23.0, 0.1);
    EXPECT_NEAR(r.correlation, 1.0, 1e-9);
    EXPECT_EQ(r.overs, 0);
    EXPECT_EQ(r.loudnessRange, -kInf);  // only 8 range blocks in 10 s
}

INSTANTIATE_TEST_SUITE_P(Rates, StereoSineAtMinus23, ::testing::Values(44100.0, 48000.0, 96000.0));

TEST(LoudnessMeter, DigitalSilenceHasNoValues) {
    const LoudnessReading r = measure(silence(48000.0, 5.0), 48000.0);
    EXPECT_EQ(r.momentary, -kInf);
    EXPECT_EQ(r.shortTerm, -kInf);
    EXPECT_EQ(r.integrated, -kInf);
    EXPECT_EQ(r.truePeak, -kInf);
    EXPECT_EQ(r.shortTermPeak, -kInf);
    EXPECT_EQ(r.loudnessRange, -kInf);
    EXPECT_TRUE(std::isnan(r.correlation));
    EXPECT_EQ(r.overs, 0);
}

TEST(LoudnessMeter, CorrelationOfIdenticalOppositeAndOneSidedChannels) {
    Stereo same = sine(48000.0, 440.0, -12.0, 1.0);
    EXPECT_NEAR(measure(same, 48000.0).correlation, 1.0, 1e-9);

    Stereo opposite = same;
    for (float& v : opposite.right) v = -v;
    EXPECT_NEAR(measure(opposite, 48000.0).correlation, -1.0, 1e-9);

    Stereo oneSided = same;
    std::fill(oneSided.right.begin(), oneSided.right.end(), 0.0f);
    EXPECT_EQ(measure(oneSided, 48000.0).correlation, 0.0);
}

TEST(LoudnessMeter, WindowsWarmUpAtTheirOwnPace) {
    LoudnessMeter meter;
    meter.configure(48000.0);
    const Stereo tone = sine(48000.0, 1000.0, -20.0, 0.39);
    feed(meter, tone);
    LoudnessReading r = meter.reading();
    EXPECT_EQ(r.momentary, -kInf);  // 39 steps: the 400 ms window is not full yet
    EXPECT_NEAR(r.shortTerm, -20.0, 0.3);  // short-term shows from the first hop
    EXPECT_EQ(r.integrated, -kInf);   // gating needs four hops
    feed(meter, sine(48000.0, 1000.0, -20.0, 0.01));
    r = meter.reading();
    EXPECT_NEAR(r.momentary, -20.0, 0.1);
    EXPECT_NEAR(r.integrated, -20.0, 0.1);
}

TEST(LoudnessMeter, OversCountEachRiseAboveMinusOneDbtp) {
    const auto level = [](float value, int frames) {
        return Stereo{std::vector<float>(static_cast<std::size_t>(frames), value),
                      std::vector<float>(static_cast<std::size_t>(frames), value)};
    };
    Stereo s = level(0.3f, 2000);
    s.then(level(0.95f, 3000)).then(level(0.3f, 2000)).then(level(0.95f, 5000)).then(level(0.3f, 9000));
    LoudnessMeter meter;
    meter.configure(48000.0);
    feed(meter, s, 333);
    LoudnessReading r = meter.reading();
    EXPECT_EQ(r.overs, 2);
    EXPECT_NEAR(r.truePeak, 20.0 * std::log10(0.95), 1.0);  // steps ring a little

    // Staying above the line after a reset counts as a new over.
    feed(meter, level(0.95f, 1000));
    meter.withLock([](LoudnessMeter& m) { m.resetTruePeakLocked(); });
    EXPECT_EQ(meter.reading().overs, 0);
    EXPECT_EQ(meter.reading().truePeak, -kInf);
    feed(meter, level(0.95f, 5000));
    EXPECT_EQ(meter.reading().overs, 1);
}

TEST(LoudnessMeter, SilenceAutoResetRestartsIntegratedAndKeepsTheOnsetPeak) {
    const double rate = 48000.0;
    // A loud passage, 4 s of silence, then quiet music whose first hop holds
    // a click above −1 dBTP.
    Stereo onset = sine(rate, 1000.0, -30.0, 8.0);
    onset.left[100] = onset.right[100] = 0.95f;
    Stereo s = sine(rate, 1000.0, -10.0, 10.0);
    s.then(silence(rate, 4.0)).then(onset);

    // The same music after a short pause that triggers nothing, cut into hops the same way.
    Stereo fresh = silence(rate, 0.5);
    fresh.then(onset);
    const LoudnessReading expected = measure(fresh, rate);
    const LoudnessReading on = measure(s, rate, true);
    EXPECT_EQ(on.integrated, expected.integrated);
    EXPECT_NEAR(on.integrated, -30.0, 0.1);
    // The onset that ended the silence keeps its peak and overs.
    EXPECT_EQ(on.truePeak, expected.truePeak);
    EXPECT_NEAR(on.truePeak, 20.0 * std::log10(0.95), 0.05);
    EXPECT_EQ(on.overs, expected.overs);
    EXPECT_GE(on.overs, 1);

    const LoudnessReading off = measure(s, rate, false);
    EXPECT_NEAR(off.integrated, -10.0, 0.2);  // the loud blocks stay in the gate
    EXPECT_EQ(off.truePeak, expected.truePeak);
    EXPECT_EQ(off.overs, expected.overs);

    // Shorter silence than 3 s leaves the measurement running.
    Stereo shortGap = sine(rate, 1000.0, -10.0, 10.0);
    shortGap.then(silence(rate, 2.5)).then(sine(rate, 1000.0, -30.0, 8.0));
    EXPECT_GT(measure(shortGap, rate, true).integrated, -20.0);
}

TEST(LoudnessMeter, LoudnessRangeNeedsTenBlocks) {
    LoudnessMeter meter;
    meter.configure(48000.0);
    feed(meter, sine(48000.0, 1000.0, -20.0, 11.95));
    EXPECT_EQ(meter.reading().loudnessRange, -kInf);  // blocks at 3, 4, ... 11 s: nine
    feed(meter, sine(48000.0, 1000.0, -20.0, 0.05));
    EXPECT_EQ(meter.reading().loudnessRange, 0.0);

    // Blocks below the absolute gate do not count.
    LoudnessMeter quiet;
    quiet.configure(48000.0);
    feed(quiet, sine(48000.0, 1000.0, -75.0, 20.0));
    EXPECT_EQ(quiet.reading().loudnessRange, -kInf);
    EXPECT_EQ(quiet.reading().integrated, -kInf);
}

TEST(LoudnessMeter, PercentileInTheTopBinReadsItsLowerEdge) {
    std::vector<long long> counts(1000, 0);
    counts[999] = 12;
    EXPECT_EQ(rangePercentile(counts.data(), 0, 12, 0.95), 29.900000000000006);
    EXPECT_EQ(rangePercentile(counts.data(), 1000, 12, 0.10), 29.900000000000006);
    counts[10] = 2;  // −69.0 LUFS: the 10 % point of 14 blocks is the second
    EXPECT_EQ(rangePercentile(counts.data(), 0, 14, 0.10), 10 / 10.0 - 70.0);
    EXPECT_EQ(rangePercentile(counts.data(), 11, 12, 0.10), 29.900000000000006);

    // Through the meter: everything above +29.9 LUFS lands in the top bin.
    const double rate = 8000.0;
    const LoudnessReading loud = measure(sine(rate, 1000.0, 35.0, 20.0), rate);
    EXPECT_EQ(loud.loudnessRange, 0.0);
    EXPECT_NEAR(loud.integrated, 35.0, 0.1);  // the mean uses the exact powers
    Stereo mixed = sine(rate, 1000.0, 25.05, 20.0);
    mixed.then(sine(rate, 1000.0, 40.0, 20.0));
    EXPECT_NEAR(measure(mixed, rate).loudnessRange, 29.900000000000006 - 25.0, 1e-9);
    // A relative gate above the top bin lets no block through.
    EXPECT_EQ(measure(sine(rate, 1000.0, 40.0, 5.0), rate).integrated, -kInf);
}

TEST(LoudnessMeter, CopyHistoryReturnsTheNewestHopsOldestFirst) {
    LoudnessMeter meter;
    meter.configure(8000.0);  // 800-sample hops
    std::vector<float> out(3, 42.0f);
    EXPECT_EQ(meter.copyHistory(10, HistorySource::shortTerm, out), 0);
    EXPECT_EQ(out, std::vector<float>(3, 42.0f));

    for (int hop = 0; hop < 5; ++hop) feed(meter, sine(8000.0, 500.0, -40.0 + 6.0 * hop, 0.1));
    EXPECT_EQ(meter.copyHistory(10, HistorySource::shortTerm, out), 5);
    ASSERT_EQ(out.size(), 5u);
    for (int k = 0; k < 4; ++k) EXPECT_LT(out[static_cast<std::size_t>(k)], out[static_cast<std::size_t>(k + 1)]);
    EXPECT_EQ(out[4], static_cast<float>(meter.reading().shortTerm));
    EXPECT_NEAR(out[0], -40.0, 0.5);

    std::vector<float> longer(8, 7.0f);
    EXPECT_EQ(meter.copyHistory(2, HistorySource::truePeak, longer), 2);
    EXPECT_NEAR(longer[1], -16.0, 0.3);
    EXPECT_EQ(longer[2], 7.0f);  // the tail of a longer output is kept

    // PSR is short-term peak minus short-term, per hop.
    meter.withLock([](LoudnessMeter& m) { m.resetHistoryLocked(); });
    EXPECT_EQ(meter.copyHistory(10, HistorySource::psr, out), 0);
    feed(meter, sine(8000.0, 500.0, -20.0, 4.0));
    ASSERT_EQ(meter.copyHistory(1, HistorySource::psr, out), 1);
    const LoudnessReading r = meter.reading();
    EXPECT_NEAR(out[0], r.shortTermPeak - r.shortTerm, 1e-5);
    EXPECT_LT(std::fabs(out[0]), 1.0);
}

TEST(LoudnessMeter, HistoryWrapsAfterTenMinutesAndKeepsEachHopsOwnPeak) {
    // Hop k carries a constant of level −3·(k mod 7) dB; 7000 hops wrap the
    // 6000-entry ring and the 30-slot hop ring many times.
    const double rate = 8000.0;
    const auto levelDb = [](int hop) { return -3.0 * (hop % 7); };
    LoudnessMeter meter;
    meter.configure(rate);
    std::vector<float> l(800), r(800);
    for (int hop = 0; hop < 7000; ++hop) {
        const auto a = static_cast<float>(std::pow(10.0, levelDb(hop) / 20.0) * 0.5);
        std::fill(l.begin(), l.end(), a);
        std::fill(r.begin(), r.end(), -a);
        meter.process(l.data(), r.data(), 800);
    }
    std::vector<float> out;
    ASSERT_EQ(meter.copyHistory(10000, HistorySource::truePeak, out), 6000);
    for (int k = 0; k < 6000; ++k) {
        const int hop = 1000 + k;
        // A hop's first samples are interpolated with the previous hop's
        // last ones; the levels are 3 dB apart.
        const double expected = std::max(levelDb(hop), levelDb(hop - 1)) - 6.02;
        ASSERT_NEAR(out[static_cast<std::size_t>(k)], expected, 1.0) << "entry " << k;
    }
    std::vector<float> newest;
    ASSERT_EQ(meter.copyHistory(3, HistorySource::truePeak, newest), 3);
    EXPECT_EQ(newest[2], out[5999]);
    EXPECT_EQ(newest[0], out[5997]);
}

TEST(LoudnessMeter, ResultsDoNotDependOnHowTheStreamIsCutIntoBlocks) {
    const double rate = 22050.0;  // hops of 2205 and steps of 221 samples never align
    const Stereo s = busyMaterial(rate, 6.0, 11);
    LoudnessMeter a, b, c;
    for (LoudnessMeter* m : {&a, &b, &c}) m->configure(rate);
    feed(a, s, 512);
    feed(b, s, 1);
    feed(c, s, 5000);
    const LoudnessReading ra = a.reading(), rb = b.reading(), rc = c.reading();
    for (const LoudnessReading* r : {&rb, &rc}) {
        EXPECT_EQ(r->momentary, ra.momentary);
        EXPECT_EQ(r->shortTerm, ra.shortTerm);
        EXPECT_EQ(r->integrated, ra.integrated);
        EXPECT_EQ(r->truePeak, ra.truePeak);
        EXPECT_EQ(r->shortTermPeak, ra.shortTermPeak);
        EXPECT_EQ(r->correlation, ra.correlation);
        EXPECT_EQ(r->overs, ra.overs);
    }
    EXPECT_GT(ra.truePeak, 1.0);
    EXPECT_GE(ra.overs, 2);
    for (HistorySource source : kAllHistorySources) {
        std::vector<float> ha, hb;
        a.copyHistory(100, source, ha);
        b.copyHistory(100, source, hb);
        for (std::size_t k = 0; k < ha.size(); ++k) {
            if (std::isnan(ha[k])) {
                EXPECT_TRUE(std::isnan(hb[k]));
            } else {
                EXPECT_EQ(ha[k], hb[k]) << rawValue(source) << " " << k;
            }
        }
    }
}

TEST(LoudnessMeter, ConfigureRefusesRatesOutsideTheSupportedRange) {
    LoudnessMeter meter;
    ASSERT_TRUE(meter.configure(44100.0));
    for (double bad : {0.0, -48000.0, 7999.0, 768001.0, std::nan(""), kInf, -kInf}) {
        EXPECT_FALSE(meter.configure(bad)) << bad;
    }
    EXPECT_EQ(meter.sampleRate(), 44100.0);
    feed(meter, sine(44100.0, 1000.0, -23.0, 5.0));
    EXPECT_NEAR(meter.reading().integrated, -23.0, 0.1);
    EXPECT_TRUE(meter.configure(8000.0));
    EXPECT_TRUE(meter.configure(768000.0));
}

TEST(LoudnessMeter, ConfigureRestartsTheMeasurementButKeepsMomentary) {
    LoudnessMeter meter;
    meter.configure(48000.0);
    feed(meter, sine(48000.0, 1000.0, -18.0, 15.0));
    std::vector<float> out;
    ASSERT_GT(meter.copyHistory(10, HistorySource::momentary, out), 0);
    meter.configure(96000.0);
    const LoudnessReading r = meter.reading();
    EXPECT_NEAR(r.momentary, -18.0, 0.1);
    EXPECT_EQ(r.shortTerm, -kInf);
    EXPECT_EQ(r.integrated, -kInf);
    EXPECT_EQ(r.loudnessRange, -kInf);
    EXPECT_EQ(r.truePeak, -kInf);
    EXPECT_TRUE(std::isnan(r.correlation));
    EXPECT_EQ(meter.copyHistory(10, HistorySource::momentary, out), 0);
}

TEST(LoudnessMeter, ShortTermResetGrowsTheWindowBackFromOneHop) {
    LoudnessMeter meter;
    meter.configure(48000.0);
    feed(meter, sine(48000.0, 1000.0, -10.0, 5.0));
    meter.withLock([](LoudnessMeter& m) {
        m.resetShortTermLocked();
        EXPECT_EQ(m.readingLocked().shortTerm, -kInf);
    });
    feed(meter, sine(48000.0, 1000.0, -30.0, 0.1));
    EXPECT_NEAR(meter.reading().shortTerm, -30.0, 0.2);  // only the new hop counts
    EXPECT_NEAR(meter.reading().integrated, -10.0, 0.2);  // the integrated value is not touched

    feed(meter, sine(48000.0, 1000.0, -30.0, 0.3));  // the gating blocks now hold only new hops
    meter.withLock([](LoudnessMeter& m) { m.resetIntegratedLocked(); });
    feed(meter, sine(48000.0, 1000.0, -30.0, 2.0));
    EXPECT_NEAR(meter.reading().integrated, -30.0, 0.2);
}

TEST(LoudnessMeter, ZeroFramesChangeNothing) {
    LoudnessMeter meter;
    meter.configure(48000.0);
    float x = 1.0f;
    meter.process(&x, &x, 0);
    EXPECT_EQ(meter.reading().truePeak, -kInf);
    EXPECT_TRUE(meter.autoResetEnabled());
}
