#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/block_handler.h"
#include "platform/log.h"
#include "tests/analysis/loudness_signals.h"

using namespace crestline;
using namespace crestline::test;

TEST(BlockHandler, AllFiniteSpotsEveryNonFiniteSampleWherever) {
    for (int length : {1, 7, 8, 9, 67}) {
        std::vector<float> x(static_cast<std::size_t>(length), std::numeric_limits<float>::max());
        EXPECT_TRUE(allFinite(x.data(), length));
        for (std::size_t at = 0; at < x.size(); ++at) {
            for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()}) {
                x[at] = bad;
                ASSERT_FALSE(allFinite(x.data(), length)) << length << " " << at;
            }
            x[at] = 0.5f;
        }
    }
}

TEST(BlockHandler, NonFiniteSamplesCountAsZeroAndDoNotPoisonTheMeters) {
    LogCapture logs;
    Stereo dirty = sine(48000.0, 1000.0, -20.0, 6.0);
    Stereo clean = dirty;
    for (std::size_t i : {100u, 30000u, 30001u, 200000u}) {
        dirty.left[i] = std::nanf("");
        dirty.right[i + 7] = (i % 2 ? 1.0f : -1.0f) * std::numeric_limits<float>::infinity();
        clean.left[i] = clean.right[i + 7] = 0.0f;
    }
    LoudnessMeter meterA, meterB;
    PeakMeter peaksA, peaksB;
    meterA.configure(48000.0);
    meterB.configure(48000.0);
    BlockHandler a(meterA, peaksA), b(meterB, peaksB);
    // Blocks larger than the handler's scratch, against plain ones.
    for (int done = 0; done < dirty.frames(); done += 10000) {
        a(dirty.left.data() + done, dirty.right.data() + done, std::min(10000, dirty.frames() - done));
    }
    for (int done = 0; done < clean.frames(); done += 512) {
        b(clean.left.data() + done, clean.right.data() + done, std::min(512, clean.frames() - done));
    }
    expectSameReading(meterA.reading(), meterB.reading());
    EXPECT_NEAR(meterA.reading().integrated, -20.0, 0.1);
    const PeakLevels pa = peaksA.take(), pb = peaksB.take();
    EXPECT_EQ(pa.left, pb.left);
    EXPECT_NEAR(pa.right, -20.0, 0.01);
    EXPECT_EQ(logs.count("Crestline: "), 1);  // once per handler, however many blocks
}
