#include <gtest/gtest.h>

#include <QColor>
#include <cmath>

#include "bar/spectrogram_palette.h"

namespace crestline {
namespace {

TEST(SpectrogramPalette, LevelTablesSpanTheirRangeAndTheSpectrumRunsFromQuietToLoud) {
    using namespace SpectrogramPalette;
    const BarTheme& theme = BarTheme::liveDark();
    // Entry i stands for i × 0.5 − 120 dB: normal runs from −90 (60) to −12 dB (216).
    const std::tuple<SpectrogramRange, std::size_t, std::size_t> ranges[] = {
        {SpectrogramRange::wide, 0, 240}, {SpectrogramRange::normal, 60, 216}, {SpectrogramRange::tight, 120, 216}};
    for (const auto& [range, first, last] : ranges) {
        for (const Table& table : {colours(theme, range), heatColours(range)}) {
            EXPECT_EQ(table[first], table[0]);
            EXPECT_NE(table[first + 1], table[first]);
            EXPECT_NE(table[last - 1], table[last]);
            EXPECT_EQ(table[last], table[255]);
        }
    }
    const Table heat = heatColours(SpectrogramRange::wide);
    EXPECT_EQ(heat[0], 0xFF000004u);    // (0, 0, 0.016)
    EXPECT_EQ(heat[240], 0xFFFCFFA4u);  // (0.988, 1, 0.643)
    // The module colours run from the meter track to near white past the
    // fill; the spectrum's start part of the way to the fill.
    const auto packed = [](const Colour& c) {
        const auto b = [](double v) { return static_cast<std::uint32_t>(std::lround(v * 255.0)); };
        return 0xFF000000u | b(c.red) << 16 | b(c.green) << 8 | b(c.blue);
    };
    const auto mix = [](const Colour& a, const Colour& b, double t) {
        return Colour{a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t, a.blue + (b.blue - a.blue) * t};
    };
    const Table module = colours(theme, SpectrogramRange::wide);
    EXPECT_EQ(module[0], packed(theme.meterTrack));
    EXPECT_EQ(module[240], packed(mix(theme.meterFill, Colour::white(), 0.75)));
    const Table spectrum = spectrumColours(theme);
    EXPECT_EQ(spectrum[0], packed(mix(theme.meterTrack, theme.meterFill, 0.3)));
    EXPECT_EQ(spectrum[255], packed(mix(theme.meterFill, Colour::white(), 0.55)));

    // A translucent track (the scope theme's faint white) shows as it lies
    // over the bar: silence dark, loud light, in both tables.
    const BarTheme& scope = BarTheme::scope();
    const auto grey = [](std::uint32_t pixel) { return qGray(static_cast<QRgb>(pixel)); };
    for (const Table& table : {colours(scope, SpectrogramRange::normal), spectrumColours(scope)}) {
        EXPECT_LT(grey(table[0]), 100);
        EXPECT_GT(grey(table[255]), grey(table[0]) + 100);
    }
}

}  // namespace
}  // namespace crestline
