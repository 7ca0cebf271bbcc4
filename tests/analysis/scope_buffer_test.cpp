#include "analysis/scope_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>
#include <thread>
#include <vector>

#include "tests/analysis/scope_signals.h"

using namespace crestline;
using crestline::testing::sine;
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
    const std::vector<float> left(64, 1.0f), right(64, -1.0f);
    crestline::testing::write(scope, left, right);
    std::uint64_t total = 0;
    const auto chunk = overview(scope, 1, &total);
    EXPECT_EQ(total, 1u);
    ASSERT_EQ(chunk.size(), 11u);
    EXPECT_EQ(chunk[Chunk::minLeft], 1.0f);
    EXPECT_EQ(chunk[Chunk::maxLeft], 1.0f);
    EXPECT_EQ(chunk[Chunk::minRight], -1.0f);
    EXPECT_EQ(chunk[Chunk::maxRight], -1.0f);
    EXPECT_EQ(chunk[Chunk::minMid], 0.0f);
    EXPECT_EQ(chunk[Chunk::maxMid], 0.0f);
    EXPECT_EQ(chunk[Chunk::minSide], 1.0f);  // (L−R)/2, not /√2
    EXPECT_EQ(chunk[Chunk::maxSide], 1.0f);
    // The bands listen to the mono signal, which is silent here.
    EXPECT_EQ(chunk[Chunk::lowRms], 0.0f);
    EXPECT_EQ(chunk[Chunk::midRms], 0.0f);
    EXPECT_EQ(chunk[Chunk::highRms], 0.0f);
    EXPECT_EQ(scope.totalFrames(), 64u);
    EXPECT_EQ(scope.activity(), 1u);
}

TEST(ScopeBuffer, ChunksDoNotDependOnHowTheAudioIsCutIntoBlocksOrWhereTheRingWraps) {
    const auto left = sine(440.0, 48000.0, 1000);
    const auto right = ramp(1000, -500.0f);
    ScopeBuffer whole(1000);
    ScopeBuffer pieces(77);  // wraps many times, never on a chunk boundary
    crestline::testing::write(whole, left, right);
    for (int at = 0, step = 1; at < 1000; at += step, step = step * 3 % 101 + 1) {
        const int n = std::min(step, 1000 - at);
        pieces.write(left.data() + at, right.data() + at, n);
    }
    std::uint64_t totalWhole = 0, totalPieces = 0;
    const auto a = overview(whole, 20, &totalWhole);
    const auto b = overview(pieces, 20, &totalPieces);
    EXPECT_EQ(totalWhole, 15u);  // 1000 frames = 15 chunks and 40 pending frames
    EXPECT_EQ(totalPieces, 15u);
    EXPECT_EQ(a, b);
    // The oldest five requested slots were never written.
    for (int i = 0; i < 5 * 11; ++i) EXPECT_EQ(a[static_cast<std::size_t>(i)], 0.0f);
    // Chunk 3 of the ramp covers frames 192…255.
    const float* third = &a[static_cast<std::size_t>(5 + 3) * 11];
    EXPECT_EQ(third[Chunk::minRight], -500.0f + 192.0f);
    EXPECT_EQ(third[Chunk::maxRight], -500.0f + 255.0f);

    std::vector<float> l(77), r(77), t(77);
    EXPECT_EQ(pieces.copyLatest(77, l, r, t), 1000u);
    for (int i = 0; i < 77; ++i) EXPECT_EQ(r[static_cast<std::size_t>(i)], -500.0f + 923.0f + i);
}

TEST(ScopeBuffer, BandsSeparateLowMidAndHighSines) {
    constexpr double kRate = 48000.0;
    struct Band {
        double frequency;
        int loudest;
    };
    for (const Band band : {Band{100.0, Chunk::lowRms}, Band{1000.0, Chunk::midRms}, Band{8000.0, Chunk::highRms}}) {
        ScopeBuffer scope(4096);
        scope.configure(kRate);
        const auto s = sine(band.frequency, kRate, 48000);
        crestline::testing::write(scope, s, s);
        // Power over the last 0.5 s, once the filters have settled.
        const auto chunks = overview(scope, 375);
        double rms[3] = {0, 0, 0};
        for (int c = 0; c < 375; ++c) {
            for (int b = 0; b < 3; ++b) rms[b] += std::pow(chunks[static_cast<std::size_t>(c * 11 + 8 + b)], 2) / 375.0;
        }
        for (double& r : rms) r = std::sqrt(r);
        const int loud = band.loudest - Chunk::lowRms;
        for (int b = 0; b < 3; ++b) {
            if (b != loud) {
                EXPECT_GT(rms[loud], 4.0 * rms[b]) << band.frequency << " Hz, band " << b;
            }
        }
        if (band.frequency == 100.0) {
            // Two one-pole stages at 200 Hz: 0.894² of a sine's RMS.
            EXPECT_NEAR(rms[0], 0.8 / std::sqrt(2.0), 0.01);
        }
    }
}

TEST(ScopeBuffer, ActivityCountsBlocksWithSoundButFramesCountEverything) {
    ScopeBuffer scope(256);
    std::vector<float> silence(100, 0.0f), negativeZero(100, -0.0f), click(100, 0.0f);
    click[57] = 1e-30f;
    scope.write(silence.data(), silence.data(), 100);
    scope.write(negativeZero.data(), silence.data(), 100);
    EXPECT_EQ(scope.totalFrames(), 200u);
    EXPECT_EQ(scope.activity(), 0u);
    scope.write(silence.data(), click.data(), 100);
    EXPECT_EQ(scope.activity(), 1u);
    scope.write(silence.data(), silence.data(), 0);
    scope.write(silence.data(), silence.data(), -5);
    scope.write(nullptr, silence.data(), 100);
    EXPECT_EQ(scope.totalFrames(), 300u);
    EXPECT_EQ(scope.activity(), 1u);
}

TEST(ScopeBuffer, CopyLatestClampsToCapacityAndToTheOutputs) {
    ScopeBuffer scope(1000);
    const auto l = ramp(2500), r = ramp(2500, 10000.0f);
    crestline::testing::write(scope, l, r);
    constexpr float kUntouched = -7.0f;
    std::vector<float> left(1200, kUntouched), right(1200, kUntouched), trigger(1200, kUntouched);
    EXPECT_EQ(scope.copyLatest(1000000, left, right, trigger), 2500u);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(left[static_cast<std::size_t>(i)], 1500.0f + i);
        EXPECT_EQ(right[static_cast<std::size_t>(i)], 11500.0f + i);
    }
    EXPECT_EQ(left[1000], kUntouched);
    EXPECT_EQ(trigger[1000], kUntouched);

    // Never more than the shortest output holds: the newest frames that fit.
    std::vector<float> shortTrigger(3, kUntouched);
    std::fill(left.begin(), left.end(), kUntouched);
    EXPECT_EQ(scope.copyLatest(500, left, right, shortTrigger), 2500u);
    EXPECT_EQ(left[0], 2497.0f);
    EXPECT_EQ(left[2], 2499.0f);
    EXPECT_EQ(left[3], kUntouched);

    std::fill(left.begin(), left.end(), kUntouched);
    EXPECT_EQ(scope.copyLatest(-4, left, right, trigger), 2500u);
    EXPECT_EQ(left[0], kUntouched);

    // An empty output is skipped rather than limiting the others.
    EXPECT_EQ(scope.copyLatest(10, left, right, {}), 2500u);
    EXPECT_EQ(left[0], 2490.0f);
    EXPECT_EQ(right[9], 12499.0f);
    EXPECT_EQ(left[10], kUntouched);
}

TEST(ScopeBuffer, CapacityIsAtLeastOneFrame) {
    for (int capacity : {0, -3}) {
        ScopeBuffer scope(capacity);
        EXPECT_EQ(scope.capacity(), 1);
        const auto l = ramp(5, 1.0f);
        crestline::testing::write(scope, l, l);
        std::vector<float> a(5, 0.0f), b(5, 0.0f), c(5, 0.0f);
        EXPECT_EQ(scope.copyLatest(5, a, b, c), 5u);
        EXPECT_EQ(a[0], 5.0f);
        EXPECT_EQ(a[1], 0.0f);
    }
}

TEST(ScopeBuffer, CopyOverviewClampsTheCountAndSizesTheOutput) {
    ScopeBuffer scope(16);
    std::uint64_t total = 99;
    auto none = overview(scope, 3, &total);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(none, std::vector<float>(33, 0.0f));

    const std::vector<float> half(32, 0.5f);
    crestline::testing::write(scope, half, half);
    EXPECT_EQ(overview(scope, 1, &total), std::vector<float>(11, 0.0f));
    EXPECT_EQ(total, 0u);  // 32 frames: the chunk is still pending

    crestline::testing::write(scope, half, half);
    const auto all = overview(scope, 1000000, &total);
    EXPECT_EQ(total, 1u);
    ASSERT_EQ(all.size(), static_cast<std::size_t>(ScopeBuffer::kOverviewCapacity) * 11);
    EXPECT_EQ(all[all.size() - 11 + Chunk::maxLeft], 0.5f);

    // A longer output keeps its length; a negative count copies nothing.
    std::vector<float> longer(50, 3.0f);
    EXPECT_EQ(scope.copyOverview(2, longer), 1u);
    EXPECT_EQ(longer.size(), 50u);
    EXPECT_EQ(longer[0], 0.0f);
    EXPECT_EQ(longer[11 + Chunk::maxLeft], 0.5f);
    EXPECT_EQ(longer[22], 3.0f);
    std::vector<float> empty;
    EXPECT_EQ(scope.copyOverview(-1, empty), 1u);
    EXPECT_TRUE(empty.empty());
}

TEST(ScopeBuffer, OverviewRingWrapsAfterFiveMinutesOfChunks) {
    ScopeBuffer scope(64);
    std::vector<float> block(64 * 1000);
    int chunk = 0;
    while (chunk < ScopeBuffer::kOverviewCapacity + 10) {
        for (int c = 0; c < 1000; ++c) {
            std::fill_n(block.begin() + c * 64, 64, static_cast<float>(chunk + c));
        }
        crestline::testing::write(scope, block, block);
        chunk += 1000;
    }
    std::uint64_t total = 0;
    const auto all = overview(scope, ScopeBuffer::kOverviewCapacity, &total);
    EXPECT_EQ(total, static_cast<std::uint64_t>(chunk));
    EXPECT_EQ(all[Chunk::minLeft], static_cast<float>(chunk - ScopeBuffer::kOverviewCapacity));
    EXPECT_EQ(all[all.size() - 11 + Chunk::minLeft], static_cast<float>(chunk - 1));
}

TEST(ScopeBuffer, ClearOverviewZerosTheChunksButKeepsTheCountAndThePendingChunk) {
    ScopeBuffer scope(256);
    const std::vector<float> ones(640 + 32, 1.0f), minus(32, -1.0f);
    crestline::testing::write(scope, ones, ones);  // 10 chunks, 32 frames pending
    scope.clearOverview();
    std::uint64_t total = 0;
    EXPECT_EQ(overview(scope, 10, &total), std::vector<float>(110, 0.0f));
    EXPECT_EQ(total, 10u);

    crestline::testing::write(scope, minus, minus);
    const auto chunks = overview(scope, 2, &total);
    EXPECT_EQ(total, 11u);
    EXPECT_EQ(chunks[Chunk::maxLeft], 0.0f);            // cleared
    EXPECT_EQ(chunks[11 + Chunk::minLeft], -1.0f);      // the pending chunk spans the clear
    EXPECT_EQ(chunks[11 + Chunk::maxLeft], 1.0f);
}

TEST(ScopeBuffer, ConfigureSetsTheTriggerPoleAndLeavesTheRings) {
    ScopeBuffer scope(128);
    EXPECT_EQ(scope.rate(), 48000.0);
    const auto l = ramp(100, 1.0f);
    crestline::testing::write(scope, l, l);
    std::vector<float> before(100), beforeTrigger(100), right(100);
    scope.copyLatest(100, before, right, beforeTrigger);

    scope.configure(44100.0);
    EXPECT_EQ(scope.rate(), 44100.0);
    std::vector<float> after(100), afterTrigger(100);
    EXPECT_EQ(scope.copyLatest(100, after, right, afterTrigger), 100u);
    EXPECT_EQ(after, before);
    EXPECT_EQ(afterTrigger, beforeTrigger);

    // The trigger stages start from zero again: one frame of 1 reads (1 − c)²
    // with c = exp(−2π·150/44100) ≈ 0.97885.
    const float one = 1.0f;
    scope.write(&one, &one, 1);
    std::vector<float> t(1), ignored(1);
    scope.copyLatest(1, ignored, ignored, t);
    const double c = std::exp(-2.0 * 3.141592653589793 * 150.0 / 44100.0);
    EXPECT_NEAR(c, 0.97885, 1e-5);
    EXPECT_NEAR(t[0], (1.0 - c) * (1.0 - c), 1e-7);
}

TEST(ScopeBuffer, UnsupportedRatesAreIgnored) {
    ScopeBuffer scope(16);
    scope.configure(96000.0);
    for (double rate : {0.0, -48000.0, 7999.0, 768001.0, std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::quiet_NaN()}) {
        scope.configure(rate);
        EXPECT_EQ(scope.rate(), 96000.0) << rate;
    }
}

TEST(ScopeBuffer, ANonFiniteSampleDoesNotPoisonTheFilters) {
    ScopeBuffer scope(256);
    std::vector<float> bad(64, 0.25f);
    bad[10] = std::numeric_limits<float>::quiet_NaN();
    bad[20] = std::numeric_limits<float>::infinity();
    crestline::testing::write(scope, bad, bad);
    const auto s = sine(1000.0, 48000.0, 6400);
    crestline::testing::write(scope, s, s);
    std::vector<float> l(64), r(64), t(64);
    scope.copyLatest(64, l, r, t);
    for (float v : t) EXPECT_TRUE(std::isfinite(v));
    const auto last = overview(scope, 1);
    for (float v : last) EXPECT_TRUE(std::isfinite(v));
    EXPECT_GT(last[Chunk::midRms], 0.1f);
}

TEST(ScopeBuffer, ReadersAndTheWriterRunConcurrently) {
    ScopeBuffer scope(4096);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const auto s = sine(440.0, 48000.0, 480);
        for (int i = 0; i < 2000; ++i) crestline::testing::write(scope, s, s);
        done = true;
    });
    std::vector<float> l(4096), r(4096), t(4096), chunks;
    std::uint64_t lastFrames = 0, lastChunks = 0;
    while (!done) {
        const std::uint64_t frames = scope.copyLatest(4096, l, r, t);
        const std::uint64_t total = scope.copyOverview(100, chunks);
        EXPECT_GE(frames, lastFrames);
        EXPECT_GE(total, lastChunks);
        lastFrames = frames;
        lastChunks = total;
        scope.clearOverview();
    }
    writer.join();
    EXPECT_EQ(scope.totalFrames(), 960000u);
    EXPECT_EQ(scope.totalChunks(), 15000u);
}
