#include "platform/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <thread>
#include <vector>

using namespace crestline;

TEST(RealFft, MatchesTheDirectDftAndKeepsItsInput) {
    for (int n : {2, 16, 12, 4096}) {
        RealFft fft(n);
        ASSERT_TRUE(fft.valid());
        ASSERT_EQ(fft.input().size(), static_cast<std::size_t>(n));
        ASSERT_EQ(fft.output().size(), static_cast<std::size_t>(n / 2 + 1));
        std::vector<float> x(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) x[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(i * 1.7) + 0.25 * (i % 5));
        std::copy(x.begin(), x.end(), fft.input().begin());
        fft.execute();
        for (int k = 0; k <= n / 2; k += std::max(1, n / 64)) {
            std::complex<double> expected;
            for (int i = 0; i < n; ++i) {
                expected += static_cast<double>(x[static_cast<std::size_t>(i)]) *
                            std::polar(1.0, -2.0 * std::numbers::pi * k * i / n);
            }
            const std::complex<float> got = fft.output()[static_cast<std::size_t>(k)];
            EXPECT_NEAR(got.real(), expected.real(), 1e-3 * std::sqrt(n)) << "n " << n << " bin " << k;
            EXPECT_NEAR(got.imag(), expected.imag(), 1e-3 * std::sqrt(n)) << "n " << n << " bin " << k;
        }
        for (int i = 0; i < n; ++i) EXPECT_EQ(fft.input()[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)]);
    }
}

TEST(RealFft, RefusesLengthsBelowTwo) {
    for (int n : {1, 0, -8}) {
        RealFft fft(n);
        EXPECT_FALSE(fft.valid());
        EXPECT_TRUE(fft.input().empty());
        EXPECT_TRUE(fft.output().empty());
        fft.execute();  // harmless
    }
}

TEST(RealFft, PlansAreMadeAndDroppedOnSeveralThreadsAtOnce) {
    auto churn = [](int seed) {
        for (int round = 0; round < 40; ++round) {
            RealFft fft(1 << (6 + (round + seed) % 8));
            ASSERT_TRUE(fft.valid());
            fft.input()[1] = 1.0f;
            fft.execute();
            EXPECT_NEAR(std::abs(fft.output()[3]), 1.0f, 1e-6f);
        }
    };
    std::thread a(churn, 0), b(churn, 3);
    a.join();
    b.join();
}
