#include "analysis/spectrogram_recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "analysis/scope_buffer.h"
#include "tests/analysis/scope_signals.h"

using namespace crestline;
using crestline::testing::sine;
using Column = SpectrogramRecorder::Column;

namespace {

// A colour table whose entry i is i, so that pixels read back as bytes.
std::vector<std::uint32_t> identity(int entries = 256) {
    std::vector<std::uint32_t> table(static_cast<std::size_t>(entries));
    std::iota(table.begin(), table.end(), 0u);
    return table;
}

// The newest column as rendered without tilt: band b's byte, 0 when empty.
Column newest(const SpectrogramRecorder& recorder, double tilt = 0.0) {
    std::vector<std::uint32_t> pixels;
    recorder.render(1, 1, SpectrogramRecorder::kBands, tilt, identity(), pixels);
    Column column{};
    for (int b = 0; b < SpectrogramRecorder::kBands; ++b) {
        column[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(pixels[static_cast<std::size_t>(159 - b)]);
    }
    return column;
}

int bandOf(double frequency) {
    for (int b = 0; b < SpectrogramRecorder::kBands; ++b) {
        if (frequency < SpectrogramRecorder::bandEdge(b + 1)) return b;
    }
    return SpectrogramRecorder::kBands - 1;
}

Column filledWith(std::uint8_t value) {
    Column c;
    c.fill(value);
    return c;
}

}  // namespace

TEST(SpectrogramRecorder, BandsAreLogarithmicFrom20HzTo20kHz) {
    EXPECT_DOUBLE_EQ(SpectrogramRecorder::bandEdge(0), 20.0);
    EXPECT_NEAR(SpectrogramRecorder::bandEdge(160), 20000.0, 1e-9);
    EXPECT_NEAR(SpectrogramRecorder::bandEdge(80), 20.0 * std::sqrt(1000.0), 1e-9);
    EXPECT_NEAR(SpectrogramRecorder::bandEdge(1) / SpectrogramRecorder::bandEdge(0), 1.0441, 1e-4);
}

TEST(SpectrogramRecorder, FullScaleSineAt1kHzStoresAbout240InItsBand) {
    ScopeBuffer scope(32768);
    scope.configure(48000.0);
    const auto s = sine(1000.0, 48000.0, 16384);
    crestline::testing::write(scope, s, s);
    SpectrogramRecorder recorder;
    recorder.captureColumn(scope);
    ASSERT_EQ(recorder.filled(), 1);
    const Column column = newest(recorder);
    EXPECT_NEAR(column[static_cast<std::size_t>(bandOf(1000.0))], 240, 2);
    // Far from the tone only the window's side lobes remain, below −80 dB.
    EXPECT_LT(column[static_cast<std::size_t>(bandOf(100.0))], 80);
    EXPECT_LT(column[static_cast<std::size_t>(bandOf(10000.0))], 80);
}

TEST(SpectrogramRecorder, NoColumnWithoutNewAudio) {
    ScopeBuffer scope(16384);
    SpectrogramRecorder recorder;
    recorder.captureColumn(scope);  // nothing was ever written
    EXPECT_EQ(recorder.filled(), 0);
    EXPECT_EQ(recorder.generationCount(), 0u);

    const std::vector<float> silence(480, 0.0f);
    crestline::testing::write(scope, silence, silence);
    recorder.captureColumn(scope);
    recorder.captureColumn(scope);
    recorder.captureColumn(scope);
    EXPECT_EQ(recorder.filled(), 1);
    EXPECT_EQ(recorder.generationCount(), 1u);
    EXPECT_EQ(newest(recorder), Column{});  // silence is below −120 dB everywhere

    crestline::testing::write(scope, silence, silence);
    recorder.captureColumn(scope);
    EXPECT_EQ(recorder.filled(), 2);
    EXPECT_EQ(recorder.generationCount(), 2u);
}

TEST(SpectrogramRecorder, TheChosenChannelIsAnalysed) {
    ScopeBuffer scope(16384);
    const std::vector<float> silence(16384, 0.0f);
    const auto s = sine(1000.0, 48000.0, 16384);
    crestline::testing::write(scope, silence, s);
    SpectrogramRecorder recorder;
    EXPECT_EQ(recorder.channel(), SpectrumChannel::stereo);
    const std::size_t band = static_cast<std::size_t>(bandOf(1000.0));

    recorder.setChannel(SpectrumChannel::left);
    recorder.captureColumn(scope);
    EXPECT_EQ(newest(recorder)[band], 0);

    recorder.setChannel(SpectrumChannel::right);
    const float one = 0.0f;
    scope.write(&one, &one, 1);  // new audio, so that a column is taken
    recorder.captureColumn(scope);
    EXPECT_NEAR(newest(recorder)[band], 240, 2);
    EXPECT_EQ(recorder.channel(), SpectrumChannel::right);
}

TEST(SpectrogramRecorder, ResetEmptiesTheHistoryAndBumpsTheGeneration) {
    SpectrogramRecorder recorder;
    for (int i = 0; i < 5; ++i) recorder.appendColumn(filledWith(100));
    EXPECT_EQ(recorder.generationCount(), 5u);
    recorder.resetHistory();
    EXPECT_EQ(recorder.filled(), 0);
    EXPECT_EQ(recorder.generationCount(), 6u);
    std::vector<std::uint32_t> pixels;
    recorder.render(5, 5, 4, 0.0, identity(), pixels);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(20, 0u));
    recorder.appendColumn(filledWith(7));
    EXPECT_EQ(recorder.filled(), 1);
    EXPECT_EQ(newest(recorder), filledWith(7));
}

TEST(SpectrogramRecorder, ASpanLongerThanTheHistoryPaintsBackgroundOnTheLeft) {
    SpectrogramRecorder recorder;
    for (int i = 1; i <= 10; ++i) recorder.appendColumn(filledWith(static_cast<std::uint8_t>(10 * i)));
    std::vector<std::uint32_t> table = identity();
    table[0] = 0xff000000u;  // background
    std::vector<std::uint32_t> pixels;
    recorder.render(40, 40, 2, 0.0, table, pixels);
    ASSERT_EQ(pixels.size(), 80u);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 30; ++x) EXPECT_EQ(pixels[static_cast<std::size_t>(y * 40 + x)], 0xff000000u) << x;
        for (int x = 30; x < 40; ++x) EXPECT_EQ(pixels[static_cast<std::size_t>(y * 40 + x)], 10u * (x - 29)) << x;
    }
    // Squeezed: two columns per pixel, the louder one wins.
    recorder.render(10, 5, 1, 0.0, table, pixels);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{20, 40, 60, 80, 100}));
    // Stretched: each column over several pixels.
    recorder.render(2, 6, 1, 0.0, table, pixels);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{90, 90, 90, 100, 100, 100}));
}

TEST(SpectrogramRecorder, AfterTenMinutesTheOldestColumnsAreOverwritten) {
    SpectrogramRecorder recorder;
    constexpr int kAppended = SpectrogramRecorder::kCapacity + 5000;
    for (int k = 0; k < kAppended; ++k) recorder.appendColumn(filledWith(static_cast<std::uint8_t>(1 + k % 255)));
    EXPECT_EQ(recorder.filled(), SpectrogramRecorder::kCapacity);
    std::vector<std::uint32_t> pixels;
    recorder.render(20000, 20000, 1, 0.0, identity(), pixels);
    for (int x = 0; x < 5000; ++x) ASSERT_EQ(pixels[static_cast<std::size_t>(x)], 0u) << x;
    for (int x = 5000; x < 20000; ++x) {
        // Pixel x shows appended column x: the first 5000 were overwritten.
        ASSERT_EQ(pixels[static_cast<std::size_t>(x)], static_cast<std::uint32_t>(1 + x % 255)) << x;
    }
}

TEST(SpectrogramRecorder, RowsCoverBandsFromTheBottomUp) {
    SpectrogramRecorder recorder;
    Column ramp;
    for (std::size_t b = 0; b < ramp.size(); ++b) ramp[b] = static_cast<std::uint8_t>(b + 1);
    recorder.appendColumn(ramp);
    std::vector<std::uint32_t> pixels;
    recorder.render(1, 1, 80, 0.0, identity(), pixels);  // two bands a row: the louder
    EXPECT_EQ(pixels[79], 2u);
    EXPECT_EQ(pixels[0], 160u);
    recorder.render(1, 1, 320, 0.0, identity(), pixels);  // each band on two rows
    EXPECT_EQ(pixels[319], 1u);
    EXPECT_EQ(pixels[318], 1u);
    EXPECT_EQ(pixels[317], 2u);
    EXPECT_EQ(pixels[0], 160u);
    recorder.render(1, 1, 1, 0.0, identity(), pixels);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>{160u});
}

TEST(SpectrogramRecorder, TiltOfThreeDbPerOctaveLifts16kHzByAbout24Steps) {
    SpectrogramRecorder recorder;
    recorder.appendColumn(filledWith(100));
    const Column flat = newest(recorder, 0.0), tilted = newest(recorder, 3.0);
    const std::size_t k1 = static_cast<std::size_t>(bandOf(1000.0)), k16 = static_cast<std::size_t>(bandOf(16000.0));
    EXPECT_EQ(flat[k1], 100);
    EXPECT_EQ(flat[k16], 100);
    EXPECT_NEAR(tilted[k1] - flat[k1], 0, 1);
    EXPECT_NEAR((tilted[k16] - flat[k16]) - (tilted[k1] - flat[k1]), 24, 1);
    EXPECT_LT(tilted[0], 100 - 30);  // 20 Hz is 5.6 octaves down: −34 steps

    // Empty bands stay empty under any tilt, and offsets saturate.
    recorder.appendColumn(Column{});
    EXPECT_EQ(newest(recorder, 3.0), Column{});
    recorder.appendColumn(filledWith(250));
    EXPECT_EQ(newest(recorder, 1e9)[159], 255);
    EXPECT_EQ(newest(recorder, -1e9)[159], 0);
    EXPECT_EQ(newest(recorder, std::nan(""))[159], 250);
}

TEST(SpectrogramRecorder, ShortOrEmptyColourTablesAndEmptyImagesAreSafe) {
    SpectrogramRecorder recorder;
    recorder.appendColumn(filledWith(200));
    std::vector<std::uint32_t> pixels;
    recorder.render(1, 2, 2, 0.0, identity(10), pixels);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(4, 9u));  // the last entry

    pixels.assign(3, 77u);
    recorder.render(1, 2, 2, 0.0, {}, pixels);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(4, 0u));  // sized, but nothing to paint with

    pixels.assign(3, 77u);
    recorder.render(1, 0, 2, 0.0, identity(), pixels);
    recorder.render(1, 2, -1, 0.0, identity(), pixels);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(3, 77u));
    recorder.render(0, 2, 1, 0.0, identity(), pixels);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(2, 0u));
    recorder.render(-5, 2, 1, 0.0, identity(), pixels);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(2, 0u));
}

TEST(SpectrogramRecorder, StartCapturesAtOnceOnItsOwnQueueAndStopsBeforeTheScopeGoes) {
    auto scope = std::make_unique<ScopeBuffer>(16384);
    const auto s = sine(1000.0, 48000.0, 8192);
    crestline::testing::write(*scope, s, s);
    SpectrogramRecorder recorder;
    EXPECT_EQ(recorder.queue().label(), "app.crestline.Crestline.spectrogram");
    recorder.start(*scope);
    recorder.start(*scope);  // a second start does nothing
    recorder.queue().drain();
    EXPECT_EQ(recorder.filled(), 1);  // the first tick fires at once
    // Later ticks find no new audio and add nothing.
    recorder.stop();
    EXPECT_TRUE(recorder.queue().isStopped());
    EXPECT_EQ(recorder.filled(), 1);
    scope.reset();  // no tick may touch it now
    recorder.stop();
}

TEST(SpectrogramRecorder, CaptureOnOneThreadWhileAnotherRendersResetsAndSwitches) {
    ScopeBuffer scope(16384);
    SpectrogramRecorder recorder;
    std::thread capture([&] {
        const auto s = sine(440.0, 48000.0, 1024);
        for (int i = 0; i < 60; ++i) {
            crestline::testing::write(scope, s, s);
            recorder.captureColumn(scope);
        }
    });
    std::vector<std::uint32_t> pixels;
    for (int i = 0; i < 60; ++i) {
        recorder.render(100, 50, 40, 3.0, identity(), pixels);
        recorder.setChannel(i % 2 ? SpectrumChannel::mid : SpectrumChannel::side);
        if (i % 20 == 0) recorder.resetHistory();
    }
    capture.join();
    EXPECT_LE(recorder.filled(), 60);
    EXPECT_GE(recorder.generationCount(), 60u);
}
