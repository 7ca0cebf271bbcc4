#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/peak_meter.h"

using namespace crestline;

TEST(PeakMeter, TakeReportsThePeaksSinceTheLastTakeAndClearsThem) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
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
    EXPECT_EQ(meter.take().left, -kInf);
    EXPECT_EQ(meter.take().right, -kInf);
}

TEST(PeakMeter, MaxMagnitudeFindsThePeakAtEveryPositionAndSkipsNaN) {
    for (int length = 1; length <= 20; ++length) {
        for (int at = 0; at < length; ++at) {
            std::vector<float> x(static_cast<std::size_t>(length), std::nanf(""));
            x[static_cast<std::size_t>(at)] = -0.75f;
            ASSERT_EQ(maxMagnitude(x.data(), length), 0.75f) << length << " " << at;
        }
    }
    EXPECT_EQ(maxMagnitude(nullptr, 0), 0.0f);
}
