// The EBU test signals that can be synthesised: Tech 3341 (loudness meters)
// and Tech 3342 (loudness range), stereo, 1 kHz unless the case says
// otherwise, at 48 kHz. Each case prints its figures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <initializer_list>
#include <utility>

#include "analysis/loudness_meter.h"
#include "tests/analysis/loudness_signals.h"

using namespace crestline;
using crestline::test::feed;
using crestline::test::sine;
using crestline::test::Stereo;

namespace {

constexpr double kRate = 48000.0;

// Consecutive 1 kHz segments of (level in dBFS, seconds).
Stereo segments(std::initializer_list<std::pair<double, double>> parts) {
    Stereo s;
    for (const auto& [dbfs, seconds] : parts) s.then(sine(kRate, 1000.0, dbfs, seconds));
    return s;
}

LoudnessReading run(const Stereo& s) {
    LoudnessMeter meter;
    meter.configure(kRate);
    feed(meter, s);
    return meter.reading();
}

// A 20 ms raised-cosine fade-in: an abrupt start rings above the sine's own
// peak in any band-limited reconstruction, which is not what these cases test.
Stereo fadedIn(Stereo s) {
    const int n = static_cast<int>(0.02 * kRate);
    for (int i = 0; i < n && i < s.frames(); ++i) {
        const auto g = static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * i / n));
        s.left[static_cast<std::size_t>(i)] *= g;
        s.right[static_cast<std::size_t>(i)] *= g;
    }
    return s;
}

void report(const char* name, const LoudnessReading& r) {
    std::printf("[conformance] %s: M %.2f S %.2f I %.2f LRA %.2f TP %.2f\n", name, r.momentary, r.shortTerm,
                r.integrated, r.loudnessRange, r.truePeak);
}

}  // namespace

TEST(Tech3341, Cases1And2SteadySinesReadTheirLevel) {
    for (double level : {-23.0, -33.0}) {
        const LoudnessReading r = run(segments({{level, 20.0}}));
        report(level == -23.0 ? "3341 case 1" : "3341 case 2", r);
        EXPECT_NEAR(r.momentary, level, 0.1);
        EXPECT_NEAR(r.shortTerm, level, 0.1);
        EXPECT_NEAR(r.integrated, level, 0.1);
    }
}

TEST(Tech3341, Cases3To5GatingKeepsTheIntegratedValueAtMinus23) {
    const std::pair<const char*, Stereo> cases[] = {
        {"3341 case 3", segments({{-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}})},
        {"3341 case 4", segments({{-72.0, 10.0}, {-36.0, 10.0}, {-23.0, 60.0}, {-36.0, 10.0}, {-72.0, 10.0}})},
        {"3341 case 5", segments({{-26.0, 20.0}, {-20.0, 20.1}, {-26.0, 20.0}})},
    };
    for (const auto& [name, signal] : cases) {
        const LoudnessReading r = run(signal);
        report(name, r);
        EXPECT_NEAR(r.integrated, -23.0, 0.1) << name;
    }
}

TEST(Tech3341, Case9ShortTermOfAThreeSecondPatternIsSteady) {
    Stereo s;
    for (int k = 0; k < 20; ++k) s.then(segments({{-20.0, 1.34}, {-30.0, 1.66}}));
    LoudnessMeter meter;
    meter.configure(kRate);
    double lowest = 0.0, highest = -100.0;
    const int hop = 4800;
    for (int done = 0; done < s.frames(); done += hop) {
        meter.process(s.left.data() + done, s.right.data() + done, std::min(hop, s.frames() - done));
        if (done >= 3 * 48000) {
            const double st = meter.reading().shortTerm;
            lowest = std::min(lowest, st);
            highest = std::max(highest, st);
        }
    }
    std::printf("[conformance] 3341 case 9: S between %.3f and %.3f\n", lowest, highest);
    EXPECT_NEAR(lowest, -23.0, 0.1);
    EXPECT_NEAR(highest, -23.0, 0.1);
}

TEST(Tech3341, Cases15To18TruePeakOfMinus6DbfsSines) {
    struct Case {
        const char* name;
        double frequency;
        double phase;
    };
    for (const Case& c : {Case{"3341 case 15", kRate / 4, 0.0}, Case{"3341 case 16", kRate / 4, 45.0},
                          Case{"3341 case 17", kRate / 6, 60.0}, Case{"3341 case 18", kRate / 8, 67.5}}) {
        LoudnessMeter meter;
        meter.configure(kRate);
        feed(meter, fadedIn(sine(kRate, c.frequency, -6.0, 1.0, c.phase)));
        const double tp = meter.reading().truePeak;
        std::printf("[conformance] %s: TP %.3f dBTP\n", c.name, tp);
        EXPECT_GE(tp, -6.4) << c.name;
        EXPECT_LE(tp, -5.8) << c.name;
    }
    // Samples at 0 dBFS of a quarter-rate sine at 45°: the wave itself peaks at +3 dBTP.
    LoudnessMeter meter;
    meter.configure(kRate);
    feed(meter, fadedIn(sine(kRate, kRate / 4, 20.0 * std::log10(std::sqrt(2.0)), 1.0, 45.0)));
    std::printf("[conformance] quarter-rate 45 degrees, 0 dBFS samples: TP %.3f dBTP\n", meter.reading().truePeak);
    EXPECT_GE(meter.reading().truePeak, 2.6);
    EXPECT_LE(meter.reading().truePeak, 3.2);
}

TEST(Tech3342, Cases1To4LoudnessRange) {
    const struct {
        const char* name;
        Stereo signal;
        double expected;
    } cases[] = {
        {"3342 case 1", segments({{-20.0, 20.0}, {-30.0, 20.0}}), 10.0},
        {"3342 case 2", segments({{-20.0, 20.0}, {-15.0, 20.0}}), 5.0},
        {"3342 case 3", segments({{-40.0, 20.0}, {-20.0, 20.0}}), 20.0},
        {"3342 case 4", segments({{-50.0, 20.0}, {-35.0, 20.0}, {-20.0, 20.0}, {-35.0, 20.0}, {-50.0, 20.0}}), 15.0},
    };
    for (const auto& c : cases) {
        const LoudnessReading r = run(c.signal);
        report(c.name, r);
        EXPECT_NEAR(r.loudnessRange, c.expected, 1.0) << c.name;
    }
}
