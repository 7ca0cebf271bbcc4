#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/block_handler.h"
#include "analysis/peak_meter.h"
#include "platform/log.h"
#include "tests/analysis/signals.h"

using namespace crestline;
using namespace crestline::test;

constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(PeakMeter, TakeReportsThePeaksSinceTheLastTakeAndClearsThem) {
    PeakMeter meter;
    EXPECT_EQ(meter.take().left, -kInf);
    std::vector<float> left{0.1f, -1.0f, std::nanf("")};
    std::vector<float> right{0.25f, 0.0f, -0.125f};
    meter.process(left.data(), right.data(), 0);  // nothing
    meter.process(left.data(), right.data(), 3);
    meter.process(right.data(), right.data(), 3);  // a smaller block lowers nothing
    const PeakLevels p = meter.take();
    EXPECT_EQ(p.left, 0.0);
    EXPECT_NEAR(p.right, 20.0 * std::log10(0.25), 1e-12);
    EXPECT_EQ(meter.take().right, -kInf);
}

// Both scans are vectorised: every length and position, with the odd values everywhere else.
TEST(BlockHandler, ScansFindThePeakAndEveryNonFiniteSampleWherever) {
    for (int length = 1; length <= 20; ++length) {
        std::vector<float> x(static_cast<std::size_t>(length), std::numeric_limits<float>::max());
        EXPECT_TRUE(allFinite(x.data(), length));
        for (std::size_t at = 0; at < x.size(); ++at) {
            for (float bad : {std::nanf(""), kInf, -kInf}) {
                x[at] = bad;
                ASSERT_FALSE(allFinite(x.data(), length)) << length << " " << at;
            }
            std::vector<float> nan(x.size(), std::nanf(""));
            nan[at] = -0.75f;
            ASSERT_EQ(maxMagnitude(nan.data(), length), 0.75f) << length << " " << at;
            x[at] = 0.5f;
        }
    }
    EXPECT_EQ(maxMagnitude(nullptr, 0), 0.0f);
}

TEST(BlockHandler, NonFiniteSamplesCountAsZeroAndDoNotPoisonTheMeters) {
    LogCapture logs;
    Stereo dirty = sine(48000.0, 1000.0, -20.0, 6.0);
    Stereo clean = dirty;
    for (std::size_t i : {100u, 30000u, 30001u, 200000u}) {
        dirty.left[i] = std::nanf("");
        dirty.right[i + 7] = (i % 2 ? 1.0f : -1.0f) * kInf;
        clean.left[i] = clean.right[i + 7] = 0.0f;
    }
    Meter meterA(48000.0), meterB(48000.0);
    PeakMeter peaksA, peaksB;
    BlockHandler a(meterA, peaksA), b(meterB, peaksB);
    feed(a, dirty, 10000);  // blocks larger than the handler's scratch, against plain ones
    feed(b, clean);
    expectSameReading(meterA.reading(), meterB.reading());
    EXPECT_NEAR(meterA.reading().integrated, -20.0, 0.1);
    const PeakLevels pa = peaksA.take(), pb = peaksB.take();
    EXPECT_EQ(pa.left, pb.left);
    EXPECT_NEAR(pa.right, -20.0, 0.01);
    EXPECT_EQ(logs.count("Crestline: "), 1);  // once per handler, however many blocks
}
