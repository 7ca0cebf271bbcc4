#include "analysis/scope_buffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

#include "tests/analysis/signals.h"

using namespace crestline;
using namespace crestline::test;
using Chunk = ScopeBuffer::Chunk;
using Floats = std::vector<float>;

namespace {

Floats ramp(int frames, float start = 0.0f) {
    Floats out(static_cast<std::size_t>(frames));
    std::iota(out.begin(), out.end(), start);
    return out;
}

// The chunk summaries and the count of real chunks.
std::pair<Floats, std::uint64_t> overview(const ScopeBuffer& scope, int chunks) {
    Floats out;
    const std::uint64_t total = scope.copyOverview(chunks, out);
    return {out, total};
}

}  // namespace

TEST(ScopeBuffer, ChunkOfLeftOneRightMinusOneSummarisesEverySignal) {
    ScopeBuffer scope(1024);
    EXPECT_EQ(overview(scope, 3), std::pair(Floats(33, 0.0f), std::uint64_t{0}));
    write(scope, Floats(64, 1.0f), Floats(64, -1.0f));
    // min/max of left, right, mid (L+R)/2, side (L−R)/2; the bands hear a silent mono signal.
    EXPECT_EQ(overview(scope, 1), std::pair(Floats{1, 1, -1, -1, 0, 0, 1, 1, 0, 0, 0}, std::uint64_t{1}));
    // Activity counts blocks with a non-zero sample; frames count everything.
    Floats zeros(100, 0.0f), click(100, 0.0f);
    click[57] = 1e-30f;
    write(scope, zeros, Floats(100, -0.0f));
    EXPECT_EQ(scope.activity(), 1u);
    write(scope, zeros, click);
    scope.write(zeros.data(), zeros.data(), -5);
    scope.write(nullptr, zeros.data(), 100);
    EXPECT_EQ(scope.totalFrames(), 264u);
    EXPECT_EQ(scope.activity(), 2u);
}

TEST(ScopeBuffer, ChunksDoNotDependOnBlockSizesOrWhereTheRingWraps) {
    const auto left = wave(440.0, 48000.0, 1000);
    const auto right = ramp(1000, -500.0f);
    ScopeBuffer whole(1000), pieces(77);  // 77 wraps often, never on a chunk boundary
    write(whole, left, right);
    for (int at = 0, step = 1; at < 1000; at += step, step = step * 3 % 101 + 1) {
        pieces.write(left.data() + at, right.data() + at, std::min(step, 1000 - at));
    }
    const auto [a, total] = overview(whole, 20);
    EXPECT_EQ(total, 15u);  // and 40 frames pending
    EXPECT_EQ(overview(pieces, 20).first, a);
    EXPECT_EQ(a[4 * 11 + 10], 0.0f);  // five requested slots were never written
    EXPECT_EQ(a[8 * 11 + Chunk::minRight], -500.0f + 192.0f);  // chunk 3: frames 192…255
    EXPECT_EQ(a[8 * 11 + Chunk::maxRight], -500.0f + 255.0f);
    Floats l(77), r(77), t(77);
    EXPECT_EQ(pieces.copyLatest(77, l, r, t), 1000u);
    EXPECT_EQ(r, ramp(77, -500.0f + 923.0f));
}

TEST(ScopeBuffer, BandsSeparateLowMidAndHighSines) {
    for (const auto& [frequency, loudest] : {std::pair{100.0, 0}, {1000.0, 1}, {8000.0, 2}}) {
        ScopeBuffer scope(4096);
        writeSine(scope, frequency, 48000);
        const Floats chunks = overview(scope, 375).first;  // the last 0.5 s, once the filters settled
        std::array<double, 3> rms{};
        for (int c = 0; c < 375; ++c) {
            for (int b = 0; b < 3; ++b) rms[b] += std::pow(chunks[static_cast<std::size_t>(c * 11 + 8 + b)], 2) / 375;
        }
        for (int b = 0; b < 3; ++b) EXPECT_GT(rms[loudest], b == loudest ? 0.0 : 16.0 * rms[b]) << frequency << " Hz";
        if (loudest == 0) {  // two one-pole stages at 200 Hz pass 0.894² of a 100 Hz sine
            EXPECT_NEAR(std::sqrt(rms[0]), 0.8 / std::sqrt(2.0), 0.01);
        }
    }
}

TEST(ScopeBuffer, CopyLatestClampsToCapacityAndToTheOutputs) {
    ScopeBuffer scope(1000);
    write(scope, ramp(2500), ramp(2500, 10000.0f));
    constexpr float kUntouched = -7.0f;
    Floats left(1200, kUntouched), right(1200, kUntouched), trigger(1200, kUntouched), three(3), none;
    EXPECT_EQ(scope.copyLatest(1000000, left, right, trigger), 2500u);
    EXPECT_EQ(left[0], 1500.0f);
    EXPECT_EQ(right[999], 12499.0f);
    EXPECT_EQ(left[1000], kUntouched);
    EXPECT_EQ(scope.copyLatest(500, left, right, three), 2500u);  // never beyond the shortest output
    EXPECT_EQ((Floats{left[2], left[3]}), (Floats{2499.0f, 1503.0f}));
    EXPECT_EQ(scope.copyLatest(10, left, right, none), 2500u);  // an empty one is skipped
    EXPECT_EQ(left[0], 2490.0f);
    EXPECT_EQ(scope.copyLatest(-4, none, none, none), 2500u);
    ScopeBuffer tiny(0);  // at least one frame
    EXPECT_EQ(tiny.capacity(), 1);
    write(tiny, ramp(5, 1.0f), ramp(5));
    Floats two(2, kUntouched);
    EXPECT_EQ(tiny.copyLatest(5, two, none, none), 5u);
    EXPECT_EQ(two, (Floats{5.0f, kUntouched}));
}

TEST(ScopeBuffer, OverviewRingKeepsTheNewestFiveMinutesAndClearingKeepsTheCount) {
    ScopeBuffer scope(64);
    Floats block(64 * 1000);
    std::uint64_t chunk = 0;
    for (; chunk < ScopeBuffer::kOverviewCapacity + 10; chunk += 1000) {
        for (int c = 0; c < 1000; ++c) std::fill_n(block.begin() + c * 64, 64, static_cast<float>(chunk) + c);
        write(scope, block, block);
    }
    const auto [all, total] = overview(scope, 1000000);
    EXPECT_EQ(total, chunk);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(ScopeBuffer::kOverviewCapacity) * 11);
    EXPECT_EQ(all[Chunk::minLeft], static_cast<float>(chunk - ScopeBuffer::kOverviewCapacity));
    EXPECT_EQ(all[all.size() - 11], static_cast<float>(chunk - 1));
    Floats longer(50, 3.0f);  // keeps its length and its tail
    scope.copyOverview(2, longer);
    EXPECT_EQ((Floats{longer[11 + Chunk::maxLeft], longer[22]}), (Floats{static_cast<float>(chunk - 1), 3.0f}));
    EXPECT_EQ(longer.size(), 50u);
    write(scope, Floats(32, 1.0f), Floats(32, 1.0f));
    scope.clearOverview();
    EXPECT_EQ(overview(scope, 10), std::pair(Floats(110, 0.0f), chunk));
    write(scope, Floats(32, -1.0f), Floats(32, -1.0f));
    const auto [chunks, after] = overview(scope, 2);
    EXPECT_EQ(after, chunk + 1);
    EXPECT_EQ(chunks[Chunk::maxLeft], 0.0f);
    EXPECT_EQ(chunks[11 + Chunk::minLeft], -1.0f);  // the pending chunk spans the clear
    EXPECT_EQ(chunks[11 + Chunk::maxLeft], 1.0f);
}

TEST(ScopeBuffer, ConfigureSetsThePolesAndLeavesTheRingsButIgnoresUnsupportedRates) {
    ScopeBuffer scope(128);
    write(scope, ramp(100, 1.0f), ramp(100, 1.0f));
    Floats before(100), after(100), triggerBefore(100), triggerAfter(100), t(1), none;
    scope.copyLatest(100, before, none, triggerBefore);
    scope.configure(44100.0);
    scope.copyLatest(100, after, none, triggerAfter);
    EXPECT_EQ(after, before);
    EXPECT_EQ(triggerAfter, triggerBefore);
    // The trigger stages restart from zero: one frame of 1 reads (1 − c)², c = exp(−2π·150/44100).
    write(scope, {1.0f}, {1.0f});
    scope.copyLatest(1, none, none, t);
    EXPECT_NEAR(t[0], std::pow(1.0 - 0.97885, 2), 1e-6);
    for (double rate : {0.0, -48000.0, 7999.0, 768001.0, double(INFINITY), double(NAN)}) {
        scope.configure(rate);
        EXPECT_EQ(scope.rate(), 44100.0) << rate;
    }
}
