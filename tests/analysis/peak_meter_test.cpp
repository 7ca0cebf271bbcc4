#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/peak_meter.h"

using namespace crestline;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}

TEST(PeakMeter, TakeReportsThePeaksSinceTheLastTakeAndClearsThem) {
    PeakMeter meter;
    PeakLevels p = meter.take();
    EXPECT_EQ(p.left, -kInf);
    EXPECT_EQ(p.right, -kInf);

    std::vector<float> left{0.1f, -1.0f, 0.2f};
    std::vector<float> right{0.25f, 0.0f, -0.125f};
    meter.process(left.data(), right.data(), 3);
    meter.process(right.data(), right.data(), 3);  // a smaller block lowers nothing
    p = meter.take();
    EXPECT_EQ(p.left, 0.0);
    EXPECT_NEAR(p.right, 20.0 * std::log10(0.25), 1e-12);

    p = meter.take();
    EXPECT_EQ(p.left, -kInf);
    EXPECT_EQ(p.right, -kInf);
}

TEST(PeakMeter, EmptyBlocksAndNaNSamplesChangeNothing) {
    PeakMeter meter;
    float x = 0.5f;
    meter.process(&x, &x, 0);
    EXPECT_EQ(meter.take().left, -kInf);

    std::vector<float> l{0.5f, std::nanf(""), 0.25f};
    std::vector<float> nan(3, std::nanf(""));
    meter.process(l.data(), nan.data(), 3);
    const PeakLevels p = meter.take();
    EXPECT_NEAR(p.left, 20.0 * std::log10(0.5), 1e-12);
    EXPECT_EQ(p.right, -kInf);
}

TEST(PeakMeter, MaxMagnitudeFindsThePeakAtEveryPositionAndLength) {
    for (int length = 1; length <= 40; ++length) {
        for (int at = 0; at < length; ++at) {
            std::vector<float> x(static_cast<std::size_t>(length), 0.1f);
            x[static_cast<std::size_t>(at)] = -0.75f;
            ASSERT_EQ(maxMagnitude(x.data(), length), 0.75f) << length << " " << at;
        }
    }
    EXPECT_EQ(maxMagnitude(nullptr, 0), 0.0f);
}
