// The spectrogram display: its image size and grid positions, and on
// offscreen renders of recorded sines where a tone's row lies against the
// grid, when the image is rendered anew, its colour maps, the freeze, the
// timeline marks and the channel label.
#include "bar/spectrogram_display.h"

#include <cmath>
#include <vector>

#include "bar/analyser_source.h"
#include "tests/bar/tones.h"
#include "tests/bar/transport_fixture.h"

namespace crestline {
namespace {

using testing::Transport;

constexpr double kRate = 48000.0;
void feedSine(AnalyserSource& source, double hz, double amplitude, double seconds) {
    testing::feedTones(source, {{hz, amplitude}}, seconds);
}

class SpectrogramDisplayTest : public testing::BarFixture {
protected:
    SpectrogramDisplayTest() {
        source.configure(kRate);
        settings.setModuleOrder({ColorArea::spectrogram});
        settings.setSpectrogramSeconds(10.0);
        fed.setTheme(BarTheme::liveDark());
    }
    QImage draw(double height = 150.0) { return renderBar(fed, {600, height}, 2.0); }
    SpectrogramDisplay& spectrogram() {
        return static_cast<SpectrogramDisplay&>(fed.display(GraphKind::spectrogram));
    }
    Rect rect() const { return fed.layout().areaShapes.at(ColorArea::spectrogram); }
    Rect imageRect() const { return rect().insetBy(0.0, 2.0); }
    // The brightest point of the image's column at `x`.
    double brightestY(const QImage& image, double x) const {
        const Rect r = imageRect();
        double best = r.minY(), brightness = -1.0;
        for (double y = r.minY() + 0.25; y < r.maxY(); y += 0.5) {
            const QColor c = pixelAt(image, x, y);
            const double b = c.red() + c.green() + c.blue();
            if (b > brightness) {
                brightness = b;
                best = y;
            }
        }
        return best;
    }

    AnalyserSource source{16384};
    BarView fed{settings, &source, clock};
};

TEST(SpectrogramDisplay, ImageSizeFollowsSpanPixelsAndBands) {
    using Size3 = SpectrogramDisplay::ImageSize;
    const std::tuple<double, double, double, double, Size3> cases[] = {
        {60.0, 300.0, 16.0, 2.0, {1500, 600, 32}},     // a module 20 points high
        {60.0, 300.0, 96.0, 2.0, {1500, 600, 160}},    // 100 points high: one row per band
        {10.0, 300.0, 56.0, 2.0, {250, 250, 112}},     // never more pixels than columns
        {600.0, 1920.0, 146.0, 2.0, {15000, 3840, 160}},
        {60.0, 300.0, 0.2, 1.0, {1500, 300, 1}},
        {std::nan(""), 0.0, -4.0, 2.0, {1, 1, 1}},
    };
    for (const auto& [seconds, width, height, scale, size] : cases) {
        EXPECT_EQ(SpectrogramDisplay::imageSize(seconds, Rect{0, 0, width, height}, scale), size) << seconds;
    }
    const Rect r{0, 10, 100, 300};
    EXPECT_NEAR((SpectrogramDisplay::frequencyY(100.0, r) - r.minY()) / r.height, std::log10(5.0) / 3.0, 1e-12);
    EXPECT_NEAR(SpectrogramDisplay::frequencyY(20.0, r), r.minY(), 1e-12);
    EXPECT_NEAR(SpectrogramDisplay::frequencyY(20000.0, r), r.maxY(), 1e-12);
}

TEST_F(SpectrogramDisplayTest, AToneLiesOnTheRowOfItsFrequencyUnderItsGridLine) {
    feedSine(source, 1000.0, 0.1, 12.0);
    const QImage image = draw();
    EXPECT_EQ(spectrogram().size(), (SpectrogramDisplay::ImageSize{250, 250, 160}));
    const Rect r = imageRect();
    const double row = r.height / 160.0;
    EXPECT_NEAR(brightestY(image, r.minX() + 40.0), SpectrogramDisplay::frequencyY(1000.0, r), row);
    feedSine(source, 100.0, 0.1, 1.0);
    const QImage later = draw();
    // The newest second, at the right, is the lower tone.
    EXPECT_NEAR(brightestY(later, r.maxX() - 10.0), SpectrogramDisplay::frequencyY(100.0, r), row);
    EXPECT_NEAR(brightestY(later, r.maxX() - 60.0), SpectrogramDisplay::frequencyY(1000.0, r), row);

    // Labels just above their lines, or below where the top would cut them.
    const auto& labels = spectrogram().labels();
    ASSERT_EQ(labels.size(), 3u);
    for (const auto& label : labels) {
        const double line = std::round(2.0 * SpectrogramDisplay::frequencyY(label.hz, r)) / 2.0;
        EXPECT_NEAR(label.rect.minY(), line + 1.0, 1e-9) << label.hz;
        EXPECT_NEAR(label.rect.maxX(), r.maxX() - 3.0, 1e-9);
    }
}

TEST_F(SpectrogramDisplayTest, GridLabelsStayLegibleOverLoudMaterial) {
    // Loud tones all about the 100 Hz label: under it the heat map is at
    // its lightest, as light as the text itself.
    settings.setSpectrogramColorMap(ColorMap::heat);
    testing::feedTones(source, {{80.0, 0.3}, {100.0, 0.3}, {125.0, 0.3}, {160.0, 0.3}}, 12.0);
    const QImage image = draw(400.0);
    const auto label = std::find_if(spectrogram().labels().begin(), spectrogram().labels().end(),
                                    [](const auto& l) { return l.hz == 100.0; });
    ASSERT_NE(label, spectrogram().labels().end());
    int lightest = 0, darkest = 255;
    for (double x = label->rect.minX(); x < label->rect.maxX(); x += 0.5) {
        for (double y = label->rect.minY(); y < label->rect.maxY(); y += 0.5) {
            const int grey = qGray(pixelAt(image, x, y).rgb());
            lightest = std::max(lightest, grey);
            darkest = std::min(darkest, grey);
        }
    }
    EXPECT_GT(lightest - darkest, 90);
}

TEST_F(SpectrogramDisplayTest, TheImageIsRenderedForANewColumnOrAChangeOnlyAndStandsStillWhenFrozen) {
    feedSine(source, 1000.0, 0.1, 2.0);
    QImage image = draw();
    const Rect r = imageRect();
    const double x = r.maxX() - 20.0, y = SpectrogramDisplay::frequencyY(1000.0, r);
    const QColor module = pixelAt(image, x, y);
    int renders = spectrogram().renders();
    draw();
    EXPECT_EQ(spectrogram().renders(), renders);
    feedSine(source, 1000.0, 0.1, 0.04);
    draw();
    EXPECT_EQ(spectrogram().renders(), ++renders);
    settings.setSpectrogramTilt(3.0);
    draw();
    EXPECT_EQ(spectrogram().renders(), ++renders);

    // Another colour map or theme: a new table and a new picture (the tilt
    // leaves the 1 kHz band as it was).
    settings.setSpectrogramColorMap(ColorMap::heat);
    const QColor heat = pixelAt(draw(), x, y);
    EXPECT_EQ(spectrogram().renders(), ++renders);
    EXPECT_NE(heat, module);
    settings.setSpectrogramColorMap(ColorMap::module);
    EXPECT_EQ(pixelAt(draw(), x, y), module);
    EXPECT_EQ(spectrogram().renders(), ++renders);
    fed.setTheme(BarTheme::scope());
    EXPECT_NE(pixelAt(draw(), x, y), module);
    EXPECT_EQ(spectrogram().renders(), ++renders);
    // Its translucent track: the span before the audio is dark, not white.
    EXPECT_LT(qGray(pixelAt(draw(), r.minX() + 20.0, y).rgb()), 80);
    EXPECT_EQ(spectrogram().renders(), renders);

    // Frozen: the picture stands while the recorder goes on.
    fed.pointer.frozenArea = ColorArea::spectrogram;
    image = draw();
    feedSine(source, 200.0, 0.3, 1.0);
    EXPECT_EQ(draw(), image);
    EXPECT_EQ(spectrogram().renders(), renders);
    fed.pointer.frozenArea.reset();
    draw();
    EXPECT_EQ(spectrogram().renders(), renders + 1);

    // The range places the colours: −50 dB is low in "tight" (−60 to −12 dB),
    // past the middle in "wide" (−120 to 0 dB).
    feedSine(source, 5000.0, 0.00316, 1.0);
    settings.setSpectrogramColorMap(ColorMap::heat);  // darker for quieter
    const double y5k = SpectrogramDisplay::frequencyY(5000.0, r);
    settings.setSpectrogramRange(SpectrogramRange::wide);
    const int wide = qGray(pixelAt(draw(), x, y5k).rgb());
    settings.setSpectrogramRange(SpectrogramRange::tight);
    EXPECT_GT(wide, qGray(pixelAt(draw(), x, y5k).rgb()) + 40);
}

TEST_F(SpectrogramDisplayTest, LivesBarsSpanTheSameSecondsAndTheChannelLabelGivesWay) {
    feedSine(source, 1000.0, 0.1, 10.0);
    Transport transport(clock);
    clock.set(clock.now() - 10.0);
    transport.play(0.0, 2.0, 10.0);  // 4/4 at 120 BPM: a bar every 2 s
    fed.setSync(&transport.sync());
    draw();
    const auto& lines = spectrogram().marks().barLines();
    ASSERT_GE(lines.size(), 4u);
    for (std::size_t k = 1; k < lines.size(); ++k) {
        EXPECT_NEAR(lines[k].x - lines[k - 1].x, rect().width * 2.0 / 10.0, 0.6);
    }
    // Bar 1 started with the transport, ten seconds ago: the left edge.
    EXPECT_EQ(lines.front().bar, 1.0);
    EXPECT_NEAR(lines.front().x, rect().minX(), 0.6);

    // The channel label leaves the top right to the 10k label, and the top
    // left to a locator's name.
    EXPECT_FALSE(spectrogram().channelLabel());
    settings.setSpectrogramChannel(SpectrumChannel::left);
    draw();
    ASSERT_TRUE(spectrogram().channelLabel());
    EXPECT_NEAR(spectrogram().channelLabel()->minX(), rect().minX() + 5.0, 1e-9);
    transport.locators({{0.2, "Intro"}});
    draw();
    EXPECT_FALSE(spectrogram().channelLabel());
    transport.locators({});
    draw(28.0);
    EXPECT_FALSE(spectrogram().channelLabel());
}

}  // namespace
}  // namespace crestline
