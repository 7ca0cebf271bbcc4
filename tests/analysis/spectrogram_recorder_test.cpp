#include "analysis/spectrogram_recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

#include "analysis/scope_buffer.h"
#include "tests/analysis/signals.h"

using namespace crestline;
using namespace crestline::test;
using Column = SpectrogramRecorder::Column;
using Pixels = std::vector<std::uint32_t>;

namespace {

// A colour table whose entry i is i, so that pixels read back as bytes.
Pixels identity(int entries = 256) {
    Pixels table(static_cast<std::size_t>(entries));
    std::iota(table.begin(), table.end(), 0u);
    return table;
}

Pixels render(const SpectrogramRecorder& recorder, int span, int width, int height, double tilt = 0.0,
              const Pixels& colours = identity()) {
    Pixels pixels;
    recorder.render(span, width, height, tilt, colours, pixels);
    return pixels;
}

// The newest column as rendered: band b's byte (with tilt), 0 when empty.
Column newest(const SpectrogramRecorder& recorder, double tilt = 0.0) {
    const Pixels pixels = render(recorder, 1, 1, SpectrogramRecorder::kBands, tilt);
    Column column{};
    for (std::size_t b = 0; b < column.size(); ++b) column[b] = static_cast<std::uint8_t>(pixels[159 - b]);
    return column;
}

std::size_t bandOf(double frequency) {
    std::size_t b = 0;
    while (b + 1 < 160 && frequency >= SpectrogramRecorder::bandEdge(static_cast<int>(b) + 1)) ++b;
    return b;
}

Column filledWith(int value) {
    Column c;
    c.fill(static_cast<std::uint8_t>(value));
    return c;
}

}  // namespace

TEST(SpectrogramRecorder, OnlyNewAudioMakesAColumnAndAFullScale1kHzSineStoresAbout240InTheChosenChannel) {
    EXPECT_NEAR(SpectrogramRecorder::bandEdge(160), 20000.0, 1e-9);
    ScopeBuffer scope(32768);
    SpectrogramRecorder recorder;
    recorder.captureColumn(scope);  // nothing was ever written
    EXPECT_EQ(recorder.generationCount(), 0u);
    write(scope, std::vector<float>(16384, 0.0f), wave(1000.0, 48000.0, 16384));
    recorder.setChannel(SpectrumChannel::left);
    recorder.captureColumn(scope);
    recorder.captureColumn(scope);
    EXPECT_EQ(recorder.generationCount(), 1u);
    EXPECT_EQ(newest(recorder), Column{});  // silence is below −120 dB everywhere
    recorder.setChannel(SpectrumChannel::right);
    write(scope, {0.0f}, {0.0f});
    recorder.captureColumn(scope);
    EXPECT_EQ(recorder.filled(), 2);
    const Column column = newest(recorder);
    EXPECT_NEAR(column[bandOf(1000.0)], 240, 2);
    EXPECT_LT(column[bandOf(100.0)], 80);  // only the window's side lobes, below −80 dB
    EXPECT_LT(column[bandOf(10000.0)], 80);
}

TEST(SpectrogramRecorder, RenderMapsColumnsOntoPixelsAndBandsOntoRowsAndTheRingHoldsTenMinutesUntilAReset) {
    SpectrogramRecorder recorder;
    for (int i = 1; i <= 10; ++i) recorder.appendColumn(filledWith(10 * i));
    Pixels table = identity();
    table[0] = 0xff000000u;  // background
    const Pixels wide = render(recorder, 40, 40, 2, 0.0, table);  // longer than the history
    for (int x = 0; x < 40; ++x) {
        const std::uint32_t expected = x < 30 ? 0xff000000u : 10u * static_cast<std::uint32_t>(x - 29);
        EXPECT_EQ(wide[static_cast<std::size_t>(x)], expected) << x;
        EXPECT_EQ(wide[static_cast<std::size_t>(40 + x)], expected) << x;
    }
    EXPECT_EQ(render(recorder, 10, 5, 1), (Pixels{20, 40, 60, 80, 100}));  // two columns a pixel: the louder
    EXPECT_EQ(render(recorder, 2, 6, 1), (Pixels{90, 90, 90, 100, 100, 100}));  // one column over three pixels
    Column ramp;
    std::iota(ramp.begin(), ramp.end(), std::uint8_t{1});
    recorder.appendColumn(ramp);
    const Pixels half = render(recorder, 1, 1, 80);  // two bands a row: the louder
    EXPECT_EQ((Pixels{half[0], half[79]}), (Pixels{160, 2}));
    const Pixels twice = render(recorder, 1, 1, 320);  // each band on two rows
    EXPECT_EQ((Pixels{twice[317], twice[318], twice[319]}), (Pixels{2, 1, 1}));
    for (int k = 0; k < SpectrogramRecorder::kCapacity + 5000; ++k) recorder.appendColumn(filledWith(1 + k % 255));
    EXPECT_EQ(recorder.filled(), SpectrogramRecorder::kCapacity);
    const Pixels pixels = render(recorder, 20000, 20000, 1);
    for (int x = 0; x < 20000; ++x) {
        // Pixel x shows column x of these; the first 5000 and the eleven before were overwritten.
        ASSERT_EQ(pixels[static_cast<std::size_t>(x)], x < 5000 ? 0u : static_cast<std::uint32_t>(1 + x % 255)) << x;
    }
    recorder.resetHistory();
    EXPECT_EQ(recorder.filled(), 0);
    EXPECT_EQ(recorder.generationCount(), SpectrogramRecorder::kCapacity + 5011u + 1u);  // the reset counts too
    EXPECT_EQ(render(recorder, 20000, 20000, 1), Pixels(20000, 0u));
    recorder.appendColumn(filledWith(7));
    EXPECT_EQ(newest(recorder), filledWith(7));
}

TEST(SpectrogramRecorder, TiltOfThreeDbPerOctaveLifts16kHzByAbout24StepsAndOddTablesOrSizesAreSafe) {
    SpectrogramRecorder recorder;
    recorder.appendColumn(filledWith(100));
    const Column tilted = newest(recorder, 3.0);
    EXPECT_NEAR(tilted[bandOf(1000.0)], 100, 1);
    EXPECT_NEAR(tilted[bandOf(16000.0)] - tilted[bandOf(1000.0)], 24, 1);
    EXPECT_NEAR(tilted[0], 100 - 34, 1);  // 20 Hz is 5.6 octaves down
    recorder.appendColumn(Column{});  // empty bands stay empty under any tilt
    EXPECT_EQ(newest(recorder, 3.0), Column{});
    recorder.appendColumn(filledWith(250));  // offsets saturate; a NaN tilt is none
    EXPECT_EQ(newest(recorder, 1e9)[159], 255);
    EXPECT_EQ(newest(recorder, -1e9)[159], 0);
    EXPECT_EQ(newest(recorder, std::nan(""))[159], 250);
    Pixels pixels(3, 77u);
    recorder.render(1, 0, 2, 0.0, identity(), pixels);
    recorder.render(1, 2, -1, 0.0, identity(), pixels);
    EXPECT_EQ(pixels, Pixels(3, 77u));  // no image: untouched
    EXPECT_EQ(render(recorder, 1, 2, 2, 0.0, {}), Pixels(4, 0u));  // sized, but nothing to paint with
    EXPECT_EQ(render(recorder, 1, 2, 2, 0.0, identity(10)), Pixels(4, 9u));  // a short table's last entry
    EXPECT_EQ(render(recorder, -5, 2, 1), Pixels(2, 0u));
}

TEST(SpectrogramRecorder, StartCapturesAtOnceOnItsOwnQueueAndStopsBeforeTheScopeGoes) {
    auto scope = std::make_unique<ScopeBuffer>(16384);
    writeSine(*scope, 1000.0, 8192);
    SpectrogramRecorder recorder;
    EXPECT_EQ(recorder.queue().label(), "app.crestline.Crestline.spectrogram");
    recorder.start(*scope);
    recorder.start(*scope);  // does nothing
    recorder.queue().drain();
    EXPECT_EQ(recorder.filled(), 1);  // the first tick fires at once; later ones find no new audio
    recorder.stop();
    EXPECT_TRUE(recorder.queue().isStopped());
    scope.reset();  // no tick may touch it now
    recorder.stop();
}
