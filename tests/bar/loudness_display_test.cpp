#include "tests/bar/bar_fixture.h"

#include "bar/meter_readouts.h"

namespace crestline {
namespace {

using testing::BarFixture;

class LoudnessDisplayTest : public BarFixture {
protected:
    void SetUp() override {
        meter.value.momentary = -10.0;
        meter.value.shortTerm = -12.0;
        meter.value.integrated = -14.02;
        meter.value.loudnessRange = 6.1;
        meter.value.shortTermPeak = -2.0;
        meter.value.truePeak = -1.5;
    }
    // The field of the "Peak" readout in the inline row.
    Rect inlinePeakField() const {
        const Rect* zone = hintZone(Hint::peak);
        EXPECT_NE(zone, nullptr);
        if (zone == nullptr) return {};
        const BarLayout& layout = view.layout();
        const double x = zone->minX() + (layout.meterSpreadNow + BarView::kItemGap) / 2.0;
        const double fieldX = x + layout.metrics.labelWidths.back() + BarView::kLabelGap;
        return {fieldX, 36.0 / 2.0 - 7.5, BarView::kPeakFieldWidth, 15.0};
    }
};

TEST_F(LoudnessDisplayTest, AClipTurnsBothPeakBarsToTheWarningColour) {
    // Salmon fill (green 182 before the gamma) against a red warning colour
    // (green 0.11): the green channel tells them apart.
    meter.nextPeaks = {-6.0, -6.0};
    QImage image = render(1400);
    Rect field = inlinePeakField();
    const double probeX = field.minX() + field.width * 0.5;  // at -21 dBFS, inside both levels
    const double upperY = field.midY() + 1.5 + 2.0;
    const double lowerY = field.midY() - 1.5 - 2.0;
    EXPECT_GT(pixelAt(image, probeX, upperY).green(), 90);
    EXPECT_GT(pixelAt(image, probeX, lowerY).green(), 90);
    EXPECT_FALSE(view.peaks().clipped);

    meter.nextPeaks = {-0.04, -6.0};  // only the left channel touches 0 dBFS
    clock.advance(0.01);
    image = render(1400);
    field = inlinePeakField();
    EXPECT_TRUE(view.peaks().clipped);
    EXPECT_LT(pixelAt(image, probeX, upperY).green(), 60);
    EXPECT_LT(pixelAt(image, probeX, lowerY).green(), 60);

    // It stays after the level drops, until the reset.
    clock.advance(5.0);
    render(1400);
    EXPECT_TRUE(view.peaks().clipped);
    view.resetPeaks();
    meter.nextPeaks = {-6.0, -6.0};
    clock.advance(0.01);
    image = render(1400);
    EXPECT_GT(pixelAt(image, probeX, upperY).green(), 90);
}

TEST_F(LoudnessDisplayTest, PeaksAreTakenOncePerFrameAndHeldWithTheViewsClock) {
    meter.nextPeaks = {-3.0, -9.0};
    render(1400);
    EXPECT_EQ(view.peaks().shown[0], -3.0);
    EXPECT_EQ(view.peaks().hold[1], -9.0);
    clock.advance(0.125);
    render(1400);
    EXPECT_EQ(view.peaks().shown[0], -6.0);
    EXPECT_EQ(view.peaks().hold[0], -3.0);
    // A frozen meter keeps its reading and does not take peaks.
    view.pointer.frozenArea = ColorArea::meter;
    meter.nextPeaks = {0.0, 0.0};
    clock.advance(0.125);
    render(1400);
    EXPECT_FALSE(view.peaks().clipped);
    EXPECT_EQ(meter.nextPeaks.left, 0.0);
}

TEST_F(LoudnessDisplayTest, InlineZonesCoverEachReadoutAndResetWhereItCan) {
    settings.setTargetLUFS(-14.0);
    render(1400);
    const BarLayout& layout = view.layout();
    std::vector<Hint> hints;
    for (const auto& zone : layout.hintZones) {
        if (zone.second != Hint::scope && zone.second != Hint::history) hints.push_back(zone.second);
    }
    EXPECT_EQ(hints, (std::vector<Hint>{Hint::momentary, Hint::shortTerm, Hint::integrated, Hint::vsTarget,
                                        Hint::loudnessRange, Hint::psr, Hint::truePeak, Hint::peak}));
    std::vector<ResetTarget::Kind> resets;
    for (const auto& zone : layout.resetZones) resets.push_back(zone.second.kind);
    using K = ResetTarget::Kind;
    EXPECT_EQ(resets, (std::vector<K>{K::shortTerm, K::integrated, K::truePeak, K::peakHold}));
    // Zones meet without gaps along the row and end at the meter's padding.
    const Rect* momentary = hintZone(Hint::momentary);
    const Rect* shortTerm = hintZone(Hint::shortTerm);
    EXPECT_NEAR(momentary->maxX(), shortTerm->minX(), 1e-9);
    EXPECT_EQ(momentary->height, 36);
    const Rect* peak = hintZone(Hint::peak);
    EXPECT_NEAR(peak->maxX(), layout.meterRect.maxX() - BarView::kMeterPadding + BarView::kItemGap / 2.0, 1e-9);
}

TEST_F(LoudnessDisplayTest, StackedZonesSplitTheHeightBetweenTheRows) {
    render(1400, 80);
    ASSERT_EQ(view.layout().meter.layout, MeterLayout::stacked);
    const Rect* momentary = hintZone(Hint::momentary);
    const Rect* shortTerm = hintZone(Hint::shortTerm);
    ASSERT_NE(momentary, nullptr);
    ASSERT_NE(shortTerm, nullptr);
    EXPECT_EQ(momentary->minX(), shortTerm->minX());
    EXPECT_EQ(momentary->minY(), 40);  // upper half: the first row
    EXPECT_EQ(shortTerm->maxY(), 40);
    EXPECT_EQ(momentary->height + shortTerm->height, 80);
}

TEST_F(LoudnessDisplayTest, DashboardsRegisterRowsAsZones) {
    settings.setTargetLUFS(-14.0);
    render(1400, 150);
    ASSERT_EQ(view.layout().meter.layout, MeterLayout::horizontalDashboard);
    for (Hint h : {Hint::momentary, Hint::shortTerm, Hint::integrated, Hint::truePeak, Hint::peak, Hint::vsTarget,
                   Hint::loudnessRange, Hint::psr}) {
        EXPECT_NE(hintZone(h), nullptr) << static_cast<int>(h);
    }
    render(1400, 400);
    ASSERT_EQ(view.layout().meter.layout, MeterLayout::dashboard);
    int slotResets = 0;
    for (const auto& zone : view.layout().resetZones) slotResets += zone.second.kind != ResetTarget::Kind::integrated;
    EXPECT_EQ(slotResets, 3);  // S, TP and Peak slots; M has no reset
}

TEST_F(LoudnessDisplayTest, EveryLayoutDrawsWithNoValuesAtAll) {
    meter.value = LoudnessReading{};
    for (double height : {28.0, 49.0, 50.0, 109.0, 110.0, 359.0, 360.0, 2000.0}) {
        render(1400, height);
        EXPECT_FALSE(view.layout().hintZones.empty()) << height;
    }
    // And with nothing of the meter shown.
    for (MeterPart part : allCases<MeterPart>()) settings.setShowMeterPart(part, false);
    for (double height : {36.0, 80.0, 150.0, 400.0}) render(1400, height);
}

TEST_F(LoudnessDisplayTest, TheTargetLineReadsTheDistanceToTheTarget) {
    EXPECT_EQ(targetLineTexts(-14.02, -14.0, true),
              (std::vector<std::string>{"On your \u221214 target", "On target"}));
    EXPECT_EQ(targetLineTexts(-14.02, -14.0, false).front(), "On your \u221214 target");
    EXPECT_EQ(targetLineTexts(-16.4, -14.0, false).front(), "2.4 LU below your \u221214 target");
    EXPECT_EQ(targetLineTexts(-12.5, -14.0, true),
              (std::vector<std::string>{"1.5 LU over your \u221214 target", "1.5 LU over target", "+1.5 LU"}));
    EXPECT_EQ(targetLineTexts(-16.4, -16.5, true).back(), "+0.1 LU");
    EXPECT_EQ(targetLineTexts(-std::numeric_limits<double>::infinity(), -16.5, true),
              (std::vector<std::string>{"Target \u221216.5 LUFS", "Target \u221216.5"}));
}

TEST_F(LoudnessDisplayTest, LevelGradientsAreCachedAndBounded) {
    render(1400, 150);
    const std::size_t kept = view.levelGradientCount();
    EXPECT_GE(kept, 1u);
    render(1400, 150);
    EXPECT_EQ(view.levelGradientCount(), kept);
    // Seventeen accents on the way: never more than sixteen kept.
    for (int i = 0; i < 20; ++i) {
        settings.setAccentColor(Rgb{i / 20.0, 0.5, 0.5}, ColorArea::meter);
        view.setTheme(BarTheme::liveLight());
        render(1400, 150);
        EXPECT_LE(view.levelGradientCount(), 16u);
    }
}

TEST_F(LoudnessDisplayTest, TheIntegratedNumberWarnsMoreThanOneLuOverTheTarget) {
    settings.setTargetLUFS(-14.0);
    meter.value.integrated = -12.5;
    const QImage hot = render(1400, 400);
    const Rect* integrated = nullptr;
    for (const auto& zone : view.layout().hintZones) {
        if (zone.second == Hint::integrated && zone.first.height > 20) integrated = &zone.first;
    }
    ASSERT_NE(integrated, nullptr);
    const Rect box = *integrated;
    // Count strongly red pixels in the number's box.
    const auto redPixels = [&](const QImage& image) {
        int red = 0;
        for (double x = box.minX(); x < box.minX() + 60; x += 0.5) {
            for (double y = box.minY(); y < box.maxY(); y += 0.5) {
                const QColor c = pixelAt(image, x, y);
                red += c.red() > 150 && c.green() < 60;
            }
        }
        return red;
    };
    EXPECT_GT(redPixels(hot), 20);
    meter.value.integrated = -14.5;
    EXPECT_EQ(redPixels(render(1400, 400)), 0);
}

}  // namespace
}  // namespace crestline
