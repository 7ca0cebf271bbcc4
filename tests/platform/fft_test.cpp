#include "platform/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

using namespace crestline;

TEST(RealFft, MatchesTheDirectDftKeepsItsInputAndRefusesLengthsBelowTwo) {
    for (int n : {2, 12, 4096}) {
        RealFft fft(n);
        ASSERT_EQ(fft.output().size(), static_cast<std::size_t>(n / 2 + 1));
        std::vector<float> x(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(i * 1.7) + 0.25 * (i % 5));
        std::copy(x.begin(), x.end(), fft.input().begin());
        fft.execute();
        for (int k = 0; k <= n / 2; k += std::max(1, n / 64)) {
            std::complex<double> expected;
            for (int i = 0; i < n; ++i) {
                expected += double{x[static_cast<std::size_t>(i)]} * std::polar(1.0, -2 * std::numbers::pi * k * i / n);
            }
            const std::complex<double> got(fft.output()[static_cast<std::size_t>(k)]);
            EXPECT_LT(std::abs(got - expected), 1e-3 * n) << n << ", bin " << k;
        }
        EXPECT_TRUE(std::equal(x.begin(), x.end(), fft.input().begin()));
    }
    RealFft none(1);
    EXPECT_FALSE(none.valid());
    EXPECT_TRUE(none.input().empty() && none.output().empty());
    none.execute();  // harmless
}
