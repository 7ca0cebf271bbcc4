#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/block_handler.h"
#include "platform/log.h"
#include "tests/analysis/loudness_signals.h"

using namespace crestline;
using crestline::test::sine;
using crestline::test::Stereo;

namespace {

void feedThrough(BlockHandler& handler, const Stereo& s, int block) {
    for (int done = 0; done < s.frames(); done += block) {
        handler(s.left.data() + done, s.right.data() + done, std::min(block, s.frames() - done));
    }
}

}  // namespace

TEST(BlockHandler, AllFiniteSpotsEveryNonFiniteSampleWherever) {
    for (int length : {1, 7, 8, 9, 64, 67}) {
        std::vector<float> x(static_cast<std::size_t>(length), 0.5f);
        EXPECT_TRUE(allFinite(x.data(), length));
        for (int at = 0; at < length; ++at) {
            for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()}) {
                x[static_cast<std::size_t>(at)] = bad;
                ASSERT_FALSE(allFinite(x.data(), length)) << length << " " << at;
            }
            x[static_cast<std::size_t>(at)] = std::numeric_limits<float>::max();
            ASSERT_TRUE(allFinite(x.data(), length));
            x[static_cast<std::size_t>(at)] = 0.5f;
        }
    }
}

TEST(BlockHandler, NonFiniteSamplesCountAsZeroAndDoNotPoisonTheMeter) {
    LogCapture logs;
    // Long enough that the dirty block is larger than the handler's scratch.
    Stereo dirty = sine(48000.0, 1000.0, -20.0, 6.0);
    Stereo clean = dirty;
    for (std::size_t i : {100u, 30000u, 30001u, 200000u}) {
        dirty.left[i] = std::nanf("");
        dirty.right[i + 7] = i % 2 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
        clean.left[i] = 0.0f;
        clean.right[i + 7] = 0.0f;
    }

    LoudnessMeter meterA, meterB;
    PeakMeter peaksA, peaksB;
    meterA.configure(48000.0);
    meterB.configure(48000.0);
    BlockHandler a(meterA, peaksA), b(meterB, peaksB);
    feedThrough(a, dirty, 10000);
    feedThrough(b, clean, 512);

    const LoudnessReading ra = meterA.reading(), rb = meterB.reading();
    EXPECT_NEAR(ra.integrated, -20.0, 0.1);
    EXPECT_EQ(ra.integrated, rb.integrated);
    EXPECT_EQ(ra.momentary, rb.momentary);
    EXPECT_EQ(ra.truePeak, rb.truePeak);
    EXPECT_EQ(ra.correlation, rb.correlation);
    const PeakLevels pa = peaksA.take(), pb = peaksB.take();
    EXPECT_EQ(pa.left, pb.left);
    EXPECT_EQ(pa.right, pb.right);
    EXPECT_NEAR(pa.right, -20.0, 0.01);
    EXPECT_EQ(logs.count("Crestline: "), 1);  // once per handler, however many blocks
}

TEST(BlockHandler, CleanBlocksGoStraightThroughInOrder) {
    LogCapture logs;
    LoudnessMeter meter;
    PeakMeter peaks;
    meter.configure(44100.0);
    BlockHandler handler(meter, peaks);
    feedThrough(handler, sine(44100.0, 1000.0, -23.0, 5.0), 441);
    handler(nullptr, nullptr, 0);
    EXPECT_NEAR(meter.reading().integrated, -23.0, 0.1);
    EXPECT_NEAR(peaks.take().left, -23.0, 0.01);
    EXPECT_TRUE(logs.lines().empty());
}
