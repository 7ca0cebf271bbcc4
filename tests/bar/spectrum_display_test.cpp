// The spectrum display: its mappings, texts and peak search, the painter of
// its field, and on offscreen renders of sines where the peak, the grid
// labels, the held curve's names, the read-out, the channel, the tilt and
// the freeze land.
#include "bar/spectrum_display.h"

#include <cmath>
#include <vector>

#include "bar/analyser_source.h"
#include "bar/spectrum_picture.h"
#include "tests/bar/bar_fixture.h"
#include "tests/bar/tones.h"

namespace crestline {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kRate = 48000.0;

using testing::feedTones;

class SpectrumDisplayTest : public testing::BarFixture {
protected:
    SpectrumDisplayTest() {
        source.configure(kRate);
        settings.setModuleOrder({ColorArea::spectrum});
        fed.setTheme(BarTheme::liveDark());
    }
    QImage draw(double width = 900.0, double height = 60.0, double scale = 2.0) {
        return renderBar(fed, {width, height}, scale);
    }
    // Bins fall at most 15 dB an update: enough updates for any fall.
    void settle() {
        for (int update = 0; update < 8; ++update) {
            clock.advance(0.25);
            draw();
        }
    }
    SpectrumDisplay& spectrum() { return static_cast<SpectrumDisplay&>(fed.display(GraphKind::spectrum)); }
    Rect field() const { return *fed.layout().spectrumField; }
    // The column whose curve reaches highest in the image, as (x, top) in points.
    std::pair<double, double> highestColumn(const QImage& image) const {
        const Rect f = field();
        std::pair<double, double> best{f.minX(), f.minY()};
        for (double x = f.minX() + 1.0; x < f.maxX() - 1.0; x += 0.5) {
            for (double y = f.maxY() - 0.5; y > best.second; y -= 0.5) {
                if (pixelAt(image, x, y).red() > 60) {  // the palette's quietest red is about 84
                    best = {x, y};
                    break;
                }
            }
        }
        return best;
    }
    double columnLevelAt(double hz) {
        const Rect f = field();
        const auto levels = spectrum().columnLevels();
        const double column = (SpectrumDisplay::xOfFrequency(hz, f) - f.minX()) / f.width * levels.size();
        return levels[static_cast<std::size_t>(std::lround(column))];
    }

    AnalyserSource source{16384};
    BarView fed{settings, &source, clock};
};

TEST(SpectrumDisplay, FrequencyAndLevelMapping) {
    const Rect field{10, 2, 300, 84};
    const std::pair<double, double> frequencies[] = {{20.0, 10.0}, {200.0, 110.0}, {2000.0, 210.0}, {20000.0, 310.0}};
    for (const auto& [hz, x] : frequencies) {
        EXPECT_NEAR(SpectrumDisplay::xOfFrequency(hz, field), x, 1e-9) << hz;
        EXPECT_NEAR(SpectrumDisplay::frequencyAt(x, field), hz, 1e-9 * hz) << hz;
    }
    // −90 dB at the foot, −6 dB and louder at the top: one point per dB here.
    const std::pair<double, double> levels[] = {{-3.0, 86.0},   {-6.0, 86.0}, {-48.0, 44.0},       {-90.0, 2.0},
                                                {-95.0, 2.0},   {kInf, 86.0}, {-kInf, 2.0},        {std::nan(""), 2.0}};
    for (const auto& [db, y] : levels) EXPECT_DOUBLE_EQ(SpectrumDisplay::levelY(db, field), y) << db;
}

TEST(SpectrumDisplay, ColumnsPerDevicePixelAndNamedPeaksPerWidth) {
    const std::tuple<double, double, int> columns[] = {
        {11.0, 2.0, 22}, {11.0, 1.0, 11}, {0.4, 1.0, 1}, {std::nan(""), 2.0, 1}, {1e9, 2.0, 65536}};
    for (const auto& [width, scale, n] : columns) EXPECT_EQ(SpectrumDisplay::columnCount(width, scale), n) << width;
    const std::pair<double, int> peaks[] = {{150.0, 1}, {219.0, 1}, {220.0, 2}, {659.0, 5},
                                            {660.0, 6}, {5000.0, 6}, {std::nan(""), 1}};
    for (const auto& [width, n] : peaks) EXPECT_EQ(SpectrumDisplay::namedPeakLimit(width), n) << width;
}

TEST(SpectrumDisplay, FrequencyTextsAndNoteNames) {
    const std::tuple<double, const char*, const char*> cases[] = {
        {440.0, "440 Hz", "A4"}, {1234.0, "1.2 kHz", "D#6"},  {12000.0, "12 kHz", "F#9"}, {261.63, "262 Hz", "C4"},
        {999.7, "1000 Hz", "B5"}, {9999.0, "10.0 kHz", "D#9"}, {8.0, "8 Hz", "C-1"},      {-5.0, "\u2013", "\u2013"}};
    for (const auto& [hz, text, note] : cases) {
        EXPECT_EQ(SpectrumDisplay::frequencyText(hz), text) << hz;
        EXPECT_EQ(SpectrumDisplay::noteName(hz), note) << hz;
    }
}

TEST(SpectrumDisplay, PeaksAreLoudProminentTopsLoudestFirstAndAFlatTopCountsOnce) {
    // 600 columns: 60 to an octave, so neighbourhoods of 10 and valleys of 30 columns.
    std::vector<float> levels(600, -95.0f);
    const auto bump = [&](int at, float top, int half) {
        for (int k = -half; k <= half; ++k) {
            float& v = levels[static_cast<std::size_t>(at + k)];
            v = std::max(v, top - 3.0f * std::abs(k));
        }
    };
    bump(100, -20.0f, 8);
    bump(300, -40.0f, 8);
    bump(306, -43.0f, 4);     // a shoulder within the peak's neighbourhood
    for (int k = 450; k < 455; ++k) levels[static_cast<std::size_t>(k)] = -30.0f;  // a flat top
    bump(550, -79.0f, 6);     // not 12 dB above the floor
    bump(200, -92.0f, 1);     // 3 dB over its valleys
    bump(595, -10.0f, 4);     // too near the end to have a neighbourhood
    SpectrumDisplay::PeakScratch scratch;
    std::vector<int> peaks;
    SpectrumDisplay::findPeaks(levels, -90.0, scratch, peaks);
    EXPECT_EQ(peaks, (std::vector<int>{100, 450, 300}));

    SpectrumDisplay::findPeaks(std::span<const float>(levels).first(8), -90.0, scratch, peaks);
    EXPECT_TRUE(peaks.empty());
}

TEST(SpectrumPicture, EachColumnIsCoveredByTheAreaUnderItsEdge) {
    const std::tuple<float, float, float, float> areas[] = {
        {10.0f, 10.0f, 9.0f, 1.0f}, {0.0f, 2.0f, 0.0f, 0.75f}, {2.0f, 0.0f, 0.0f, 0.75f}, {0.0f, 2.0f, 1.0f, 0.25f}};
    for (const auto& [a, b, row, area] : areas) {
        EXPECT_NEAR(SpectrumPicture::areaUnder(a, b, row), area, 1e-6) << a << " " << b << " " << row;
    }

    // A flat curve 5.5 rows high under a held edge at 10 rows with a
    // 2-row outline, over an opaque black track.
    SpectrumPicture picture;
    const std::vector<float> curve(4, 5.5f), held(4, 10.0f);
    const std::vector<std::uint32_t> red(4, 0xFFFF0000u);
    picture.paint(4, 20, curve, red, held, 2.0,
                  {.track = Colour::black(), .held = Colour{0.0, 0.0, 1.0, 0.4}, .outline = Colour::white()});
    const auto at = [&](int row) { return QColor::fromRgba(picture.image().pixel(2, 19 - row)); };
    const std::pair<int, QColor> rows[] = {{4, QColor(255, 0, 0)},     {5, QColor(128, 0, 51)},  // half over held
                                           {7, QColor(0, 0, 102)},     {9, QColor(255, 255, 255)},
                                           {10, QColor(255, 255, 255)}, {11, QColor(0, 0, 0)}};
    for (const auto& [row, colour] : rows) EXPECT_EQ(at(row), colour) << row;

    // A translucent track makes a translucent picture.
    picture.paint(4, 20, curve, red, {}, 2.0, {.track = Colour::white(0.5), .held = {}, .outline = {}});
    EXPECT_EQ(qAlpha(picture.image().pixel(2, 19 - 10)), 128);
}

TEST_F(SpectrumDisplayTest, AOneKilohertzSinePeaksOnTheColumnOfOneKilohertzAtItsLevel) {
    feedTones(source, {{1000.0, 0.1}}, 0.5);  // −20 dBFS
    for (const double scale : {1.0, 2.0}) {
        const QImage image = draw(900.0, 60.0, scale);
        EXPECT_EQ(static_cast<double>(spectrum().columnLevels().size()), std::trunc(field().width * scale));
        const auto [x, top] = highestColumn(image);
        EXPECT_NEAR(x, SpectrumDisplay::xOfFrequency(1000.0, field()), 1.0) << scale;
        EXPECT_NEAR(top, SpectrumDisplay::levelY(-20.0, field()), 1.5) << scale;
    }
    EXPECT_NEAR(columnLevelAt(1000.0), -20.0, 0.5);
    EXPECT_LT(columnLevelAt(100.0), -90.0);

    // Tilt: 3 dB per octave lifts 8 kHz, three octaves over the pivot, by 9 dB.
    feedTones(source, {{8000.0, 0.1}}, 0.5);
    draw();
    const double flat = columnLevelAt(8000.0);
    settings.setSpectrumTilt(3.0);
    draw();
    EXPECT_NEAR(columnLevelAt(8000.0) - flat, 9.0, 0.1);
}

TEST_F(SpectrumDisplayTest, TheChannelChoosesTheSignal) {
    feedTones(source, {{1000.0, 0.1}}, 0.5, true);  // all side, no mid
    draw();
    EXPECT_NEAR(columnLevelAt(1000.0), -20.0, 0.5);  // stereo: the mean power of the two
    settings.setSpectrumChannel(SpectrumChannel::mid);
    settle();
    EXPECT_LT(columnLevelAt(1000.0), -90.0);
    settings.setSpectrumChannel(SpectrumChannel::side);
    draw();
    EXPECT_NEAR(columnLevelAt(1000.0), -20.0, 0.5);
}

TEST_F(SpectrumDisplayTest, GridLabelsDependOnTheWidthAndTheReadOutNamesTheNote) {
    feedTones(source, {{440.0, 0.1}}, 0.5);
    const auto labelled = [&] {
        std::vector<double> hz;
        for (const auto& label : spectrum().labels()) hz.push_back(label.hz);
        return hz;
    };
    draw(500.0);
    ASSERT_LE(field().width, SpectrumDisplay::kWideLabelsAbove);
    EXPECT_EQ(labelled(), (std::vector<double>{100, 1000, 10000}));
    draw(900.0);
    ASSERT_GT(field().width, SpectrumDisplay::kWideLabelsAbove);
    EXPECT_EQ(labelled(), (std::vector<double>{50, 100, 500, 1000, 5000, 10000}));

    // The pointer reads the frequency and the note under it, in a pill kept in the field.
    fed.pointer.grabPointerX = SpectrumDisplay::xOfFrequency(440.0, field());
    draw();
    EXPECT_EQ(spectrum().readout(), "440 Hz \u00b7 A4");
    ASSERT_TRUE(spectrum().readoutPill());
    EXPECT_NEAR(spectrum().readoutPill()->midX(), *fed.pointer.grabPointerX, 1e-9);
    fed.pointer.grabPointerX = field().maxX() - 1.0;
    draw();
    EXPECT_NEAR(spectrum().readoutPill()->maxX(), field().maxX() - 1.0, 1e-9);
    fed.pointer.grabPointerX = field().maxX() + 5.0;
    draw();
    EXPECT_EQ(spectrum().readout(), "");
    EXPECT_FALSE(spectrum().readoutPill());
}

TEST_F(SpectrumDisplayTest, HoldingKeepsTheHighestCurveAndNamesItsPeaksAsTheWidthAllows) {
    feedTones(source, {{150.0, 0.1}, {1000.0, 0.3}, {6000.0, 0.03}}, 0.5);
    fed.pointer.spectrumGrabbed = true;
    draw(900.0);
    std::vector<double> named;
    for (const auto& peak : spectrum().namedPeaks()) named.push_back(peak.hz);
    ASSERT_EQ(named.size(), 3u);
    EXPECT_NEAR(named[0], 1000.0, 2.0);  // loudest first, refined between bins
    EXPECT_NEAR(named[1], 150.0, 1.0);
    EXPECT_NEAR(named[2], 6000.0, 10.0);

    // Quieter audio leaves the held curve where it was (the live curve
    // falls 15 dB per update at most).
    feedTones(source, {{1000.0, 0.01}}, 0.5);
    settle();
    EXPECT_NEAR(columnLevelAt(1000.0), -40.0, 0.5);
    const Rect f = field();
    const auto held = spectrum().heldLevels();
    const double column = (SpectrumDisplay::xOfFrequency(1000.0, f) - f.minX()) / f.width * held.size();
    EXPECT_NEAR(held[static_cast<std::size_t>(std::lround(column))], -10.5, 0.6);

    // A narrow spectrum names only the loudest; letting go drops the hold.
    draw(240.0);
    ASSERT_LT(field().width, 220.0);
    ASSERT_EQ(spectrum().namedPeaks().size(), 1u);
    EXPECT_NEAR(spectrum().namedPeaks()[0].hz, 1000.0, 2.0);
    fed.pointer.spectrumGrabbed = false;
    draw();
    EXPECT_TRUE(spectrum().heldLevels().empty());
    EXPECT_TRUE(spectrum().namedPeaks().empty());
}

TEST_F(SpectrumDisplayTest, AFrozenSpectrumStandsStillUntilItThaws) {
    feedTones(source, {{1000.0, 0.1}}, 0.5);
    draw();
    fed.pointer.frozenArea = ColorArea::spectrum;
    const QImage before = draw();
    EXPECT_NEAR(columnLevelAt(1000.0), -20.0, 0.5);
    feedTones(source, {{200.0, 0.3}}, 0.5);
    clock.advance(1.0);
    const QImage still = draw();
    EXPECT_EQ(still, before);
    fed.pointer.frozenArea.reset();
    settle();
    EXPECT_NEAR(columnLevelAt(200.0), -10.5, 0.6);
    EXPECT_LT(columnLevelAt(1000.0), -60.0);
}

}  // namespace
}  // namespace crestline
