#include "analysis/scope_buffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "tests/analysis/scope_signals.h"

using namespace crestline;
using crestline::testing::sine;
using crestline::testing::write;
using Chunk = ScopeBuffer::Chunk;

namespace {

std::vector<float> ramp(int frames, float start = 0.0f) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    std::iota(out.begin(), out.end(), start);
    return out;
}

std::vector<float> overview(const ScopeBuffer& scope, int chunks, std::uint64_t* total = nullptr) {
    std::vector<float> out;
    const std::uint64_t t = scope.copyOverview(chunks, out);
    if (total) *total = t;
    return out;
}

}  // namespace

TEST(ScopeBuffer, ChunkOfLeftOneRightMinusOneSummarisesEverySignal) {
    ScopeBuffer scope(1024);
    write(scope, std::vector<float>(64, 1.0f), std::vector<float>(64, -1.0f));
    std::uint64_t total = 0;
    // min/max of left, right, mid (L+R)/2, side (L−R)/2; the bands hear a silent mono signal.
    EXPECT_EQ(overview(scope, 1, &total), (std::vector<float>{1, 1, -1, -1, 0, 0, 1, 1, 0, 0, 0}));
    EXPECT_EQ(total, 1u);

    // Activity counts blocks with a non-zero sample; frames count everything.
    std::vector<float> zeros(100, 0.0f), negativeZeros(100, -0.0f), click(100, 0.0f);
    click[57] = 1e-30f;
    write(scope, zeros, negativeZeros);
    EXPECT_EQ(scope.activity(), 1u);
    write(scope, zeros, click);
    scope.write(zeros.data(), zeros.data(), -5);
    scope.write(nullptr, zeros.data(), 100);
    EXPECT_EQ(scope.totalFrames(), 264u);
    EXPECT_EQ(scope.activity(), 2u);
}

TEST(ScopeBuffer, ChunksDoNotDependOnBlockSizesOrWhereTheRingWraps) {
    const auto left = sine(440.0, 48000.0, 1000);
    const auto right = ramp(1000, -500.0f);
    ScopeBuffer whole(1000), pieces(77);  // 77 wraps often, never on a chunk boundary
    write(whole, left, right);
    for (int at = 0, step = 1; at < 1000; at += step, step = step * 3 % 101 + 1) {
        pieces.write(left.data() + at, right.data() + at, std::min(step, 1000 - at));
    }
    std::uint64_t total = 0;
    const auto a = overview(whole, 20, &total);
    EXPECT_EQ(total, 15u);  // and 40 frames pending
    EXPECT_EQ(a, overview(pieces, 20));
    EXPECT_EQ(a[4 * 11 + 10], 0.0f);  // five requested slots were never written
    EXPECT_EQ(a[8 * 11 + Chunk::minRight], -500.0f + 192.0f);  // chunk 3: frames 192…255
    EXPECT_EQ(a[8 * 11 + Chunk::maxRight], -500.0f + 255.0f);

    std::vector<float> l(77), r(77), t(77);
    EXPECT_EQ(pieces.copyLatest(77, l, r, t), 1000u);
    EXPECT_EQ(r, ramp(77, -500.0f + 923.0f));
}

TEST(ScopeBuffer, BandsSeparateLowMidAndHighSines) {
    for (const auto& [frequency, loudest] : {std::pair{100.0, 0}, {1000.0, 1}, {8000.0, 2}}) {
        ScopeBuffer scope(4096);
        crestline::testing::writeSine(scope, frequency, 48000);
        const auto chunks = overview(scope, 375);  // the last 0.5 s, once the filters settled
        double rms[3] = {0, 0, 0};
        for (int c = 0; c < 375; ++c) {
            for (int b = 0; b < 3; ++b) rms[b] += std::pow(chunks[static_cast<std::size_t>(c * 11 + 8 + b)], 2) / 375;
        }
        for (int b = 0; b < 3; ++b) {
            if (b != loudest) {
                EXPECT_GT(rms[loudest], 16.0 * rms[b]) << frequency << " Hz, band " << b;
            }
        }
        // Two one-pole stages at 200 Hz pass 0.894² of a 100 Hz sine.
        if (loudest == 0) {
            EXPECT_NEAR(std::sqrt(rms[0]), 0.8 / std::sqrt(2.0), 0.01);
        }
    }
}

TEST(ScopeBuffer, CopyLatestClampsToCapacityAndToTheOutputs) {
    ScopeBuffer scope(1000);
    write(scope, ramp(2500), ramp(2500, 10000.0f));
    constexpr float kUntouched = -7.0f;
    std::vector<float> left(1200, kUntouched), right(1200, kUntouched), trigger(1200, kUntouched);
    EXPECT_EQ(scope.copyLatest(1000000, left, right, trigger), 2500u);
    EXPECT_EQ(left[0], 1500.0f);
    EXPECT_EQ(right[999], 12499.0f);
    EXPECT_EQ(left[1000], kUntouched);

    std::vector<float> three(3), none;
    EXPECT_EQ(scope.copyLatest(500, left, right, three), 2500u);  // never beyond the shortest output
    EXPECT_EQ(left[2], 2499.0f);
    EXPECT_EQ(left[3], 1503.0f);
    EXPECT_EQ(scope.copyLatest(10, left, right, none), 2500u);  // an empty one is skipped
    EXPECT_EQ(left[0], 2490.0f);
    EXPECT_EQ(scope.copyLatest(-4, none, none, none), 2500u);

    ScopeBuffer tiny(0);  // at least one frame
    EXPECT_EQ(tiny.capacity(), 1);
    write(tiny, ramp(5, 1.0f), ramp(5));
    std::vector<float> two(2, kUntouched);
    EXPECT_EQ(tiny.copyLatest(5, two, none, none), 5u);
    EXPECT_EQ(two, (std::vector<float>{5.0f, kUntouched}));
}

TEST(ScopeBuffer, CopyOverviewClampsTheCountAndSizesTheOutput) {
    ScopeBuffer scope(16);
    std::uint64_t total = 99;
    EXPECT_EQ(overview(scope, 3, &total), std::vector<float>(33, 0.0f));
    EXPECT_EQ(total, 0u);
    const std::vector<float> half(32, 0.5f);
    write(scope, half, half);
    EXPECT_EQ(overview(scope, 1, &total)[Chunk::maxLeft], 0.0f);
    EXPECT_EQ(total, 0u);  // 32 frames: still pending
    write(scope, half, half);
    const auto all = overview(scope, 1000000, &total);
    EXPECT_EQ(total, 1u);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(ScopeBuffer::kOverviewCapacity) * 11);
    EXPECT_EQ(all[all.size() - 11 + Chunk::maxLeft], 0.5f);

    std::vector<float> longer(50, 3.0f);  // keeps its length and its tail
    EXPECT_EQ(scope.copyOverview(2, longer), 1u);
    EXPECT_EQ(longer.size(), 50u);
    EXPECT_EQ(longer[11 + Chunk::maxLeft], 0.5f);
    EXPECT_EQ(longer[22], 3.0f);
}

TEST(ScopeBuffer, OverviewRingKeepsTheNewestFiveMinutes) {
    ScopeBuffer scope(64);
    std::vector<float> block(64 * 1000);
    int chunk = 0;
    for (; chunk < ScopeBuffer::kOverviewCapacity + 10; chunk += 1000) {
        for (int c = 0; c < 1000; ++c) std::fill_n(block.begin() + c * 64, 64, static_cast<float>(chunk + c));
        write(scope, block, block);
    }
    std::uint64_t total = 0;
    const auto all = overview(scope, ScopeBuffer::kOverviewCapacity, &total);
    EXPECT_EQ(total, static_cast<std::uint64_t>(chunk));
    EXPECT_EQ(all[Chunk::minLeft], static_cast<float>(chunk - ScopeBuffer::kOverviewCapacity));
    EXPECT_EQ(all[all.size() - 11], static_cast<float>(chunk - 1));
}

TEST(ScopeBuffer, ClearOverviewZerosTheChunksButKeepsTheCountAndThePendingChunk) {
    ScopeBuffer scope(256);
    write(scope, std::vector<float>(672, 1.0f), std::vector<float>(672, 1.0f));  // 10 chunks + 32 frames
    scope.clearOverview();
    std::uint64_t total = 0;
    EXPECT_EQ(overview(scope, 10, &total), std::vector<float>(110, 0.0f));
    EXPECT_EQ(total, 10u);
    write(scope, std::vector<float>(32, -1.0f), std::vector<float>(32, -1.0f));
    const auto chunks = overview(scope, 2, &total);
    EXPECT_EQ(total, 11u);
    EXPECT_EQ(chunks[Chunk::maxLeft], 0.0f);
    EXPECT_EQ(chunks[11 + Chunk::minLeft], -1.0f);  // the pending chunk spans the clear
    EXPECT_EQ(chunks[11 + Chunk::maxLeft], 1.0f);
}

TEST(ScopeBuffer, ConfigureSetsThePolesAndLeavesTheRingsButIgnoresUnsupportedRates) {
    ScopeBuffer scope(128);
    EXPECT_EQ(scope.rate(), 48000.0);
    write(scope, ramp(100, 1.0f), ramp(100, 1.0f));
    std::vector<float> before(100), after(100), triggerBefore(100), triggerAfter(100), none;
    scope.copyLatest(100, before, none, triggerBefore);
    scope.configure(44100.0);
    scope.copyLatest(100, after, none, triggerAfter);
    EXPECT_EQ(after, before);
    EXPECT_EQ(triggerAfter, triggerBefore);

    // The trigger stages restart from zero: one frame of 1 reads (1 − c)², c = exp(−2π·150/44100).
    const float one = 1.0f;
    scope.write(&one, &one, 1);
    std::vector<float> t(1);
    scope.copyLatest(1, none, none, t);
    EXPECT_NEAR(t[0], std::pow(1.0 - 0.97885, 2), 1e-6);

    for (double rate : {0.0, -48000.0, 7999.0, 768001.0, std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::quiet_NaN()}) {
        scope.configure(rate);
        EXPECT_EQ(scope.rate(), 44100.0) << rate;
    }
}

TEST(ScopeBuffer, ANonFiniteSampleDoesNotPoisonTheFilters) {
    ScopeBuffer scope(256);
    std::vector<float> bad(64, 0.25f);
    bad[10] = std::numeric_limits<float>::quiet_NaN();
    bad[20] = std::numeric_limits<float>::infinity();
    write(scope, bad, bad);
    crestline::testing::writeSine(scope, 1000.0, 6400);
    std::vector<float> t(64), none;
    scope.copyLatest(64, none, none, t);
    for (float v : t) EXPECT_TRUE(std::isfinite(v));
    const auto last = overview(scope, 1);
    for (float v : last) EXPECT_TRUE(std::isfinite(v));
    EXPECT_GT(last[Chunk::midRms], 0.1f);
}
