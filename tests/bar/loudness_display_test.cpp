#include "bar/meter_readouts.h"
#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

class LoudnessDisplayTest : public testing::BarFixture {
protected:
    void SetUp() override {
        meter.value = {.momentary = -10.0, .shortTerm = -12.0, .integrated = -14.02, .truePeak = -1.5,
                       .loudnessRange = 6.1, .shortTermPeak = -2.0};
    }
    // Green of the inline "Peak" field's two bars, halfway along (-21 dBFS,
    // inside both levels). The salmon fill has green 182 before the gamma,
    // the red warning colour 0.11.
    std::pair<int, int> peakBarsGreen() {
        const QImage image = render(1400);
        const Rect* zone = hintZone(Hint::peak);
        if (zone == nullptr) return {-1, -1};
        const double x = zone->minX() + (layout.meterSpreadNow + BarView::kItemGap) / 2.0 +
                         layout.metrics.labelWidths.back() + BarView::kLabelGap + BarView::kPeakFieldWidth / 2;
        return {pixelAt(image, x, 18 + 3.5).green(), pixelAt(image, x, 18 - 3.5).green()};
    }
};

TEST_F(LoudnessDisplayTest, AClipTurnsBothPeakBarsToTheWarningColourUntilReset) {
    meter.nextPeaks = {-6.0, -6.0};
    auto [upper, lower] = peakBarsGreen();
    EXPECT_GT(std::min(upper, lower), 90);
    EXPECT_FALSE(view.peaks().clipped);

    meter.nextPeaks = {-0.04, -6.0};  // only the left channel touches 0 dBFS
    clock.advance(0.01);
    std::tie(upper, lower) = peakBarsGreen();
    EXPECT_TRUE(view.peaks().clipped);
    EXPECT_LT(std::max(upper, lower), 60);

    clock.advance(5.0);
    render(1400);
    EXPECT_TRUE(view.peaks().clipped);
    view.resetPeaks();
    meter.nextPeaks = {-6.0, -6.0};
    clock.advance(0.01);
    EXPECT_GT(peakBarsGreen().first, 90);
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

TEST_F(LoudnessDisplayTest, EachLayoutRegistersItsReadoutsAsZones) {
    using K = ResetTarget::Kind;
    settings.setTargetLUFS(-14.0);
    settings.setModuleOrder({ColorArea::meter});
    render(1400);
    const std::vector<Hint> all{Hint::momentary, Hint::shortTerm, Hint::integrated, Hint::vsTarget,
                                Hint::loudnessRange, Hint::psr, Hint::truePeak, Hint::peak};
    std::vector<Hint> hints;
    for (const auto& zone : layout.hintZones) hints.push_back(zone.second);
    ASSERT_EQ(hints, all);
    std::vector<K> resets;
    for (const auto& zone : layout.resetZones) resets.push_back(zone.second.kind);
    EXPECT_EQ(resets, (std::vector<K>{K::shortTerm, K::integrated, K::truePeak, K::peakHold}));
    // Inline zones meet without gaps along the row and end at the meter's padding.
    EXPECT_NEAR(hintZone(Hint::momentary)->maxX(), hintZone(Hint::shortTerm)->minX(), 1e-9);
    EXPECT_EQ(hintZone(Hint::momentary)->height, 36);
    EXPECT_NEAR(hintZone(Hint::peak)->maxX(), layout.meterRect.maxX() - BarView::kMeterPadding + BarView::kItemGap / 2,
                1e-9);
    // ...and begin at it: the divider at the meter's left edge stays clear of "Momentary".
    EXPECT_NEAR(hintZone(Hint::momentary)->minX() + BarView::kItemGap / 2,
                layout.meterRect.minX() + BarView::kMeterPadding, 1e-9);

    // The stacked grid splits the height between its rows.
    render(1400, 80);
    ASSERT_EQ(layout.meter.layout, MeterLayout::stacked);
    ASSERT_TRUE(hintZone(Hint::momentary) && hintZone(Hint::shortTerm));
    const Rect upper = *hintZone(Hint::momentary);
    const Rect lower = *hintZone(Hint::shortTerm);
    EXPECT_EQ(std::tuple(upper.minX(), upper.minY(), lower.maxY(), upper.height + lower.height),
              std::tuple(lower.minX(), 40.0, 40.0, 80.0));

    render(1400, 150);
    ASSERT_EQ(layout.meter.layout, MeterLayout::horizontalDashboard);
    for (Hint hint : all) EXPECT_NE(hintZone(hint), nullptr) << static_cast<int>(hint);
    render(1400, 400);
    ASSERT_EQ(layout.meter.layout, MeterLayout::dashboard);
    EXPECT_EQ(std::count_if(layout.resetZones.begin(), layout.resetZones.end(),
                            [](const auto& zone) { return zone.second.kind != K::integrated; }),
              3);  // S, TP and Peak slots; M has no reset
}

TEST_F(LoudnessDisplayTest, EveryLayoutDrawsWithNoValuesAtAll) {
    meter.value = LoudnessReading{};
    for (double height : {28.0, 49.0, 50.0, 109.0, 110.0, 359.0, 360.0, 2000.0}) {
        render(1400, height);
        EXPECT_FALSE(layout.hintZones.empty()) << height;
    }
    for (MeterPart part : allCases<MeterPart>()) settings.setShowMeterPart(part, false);
    for (double height : {36.0, 80.0, 150.0, 400.0}) render(1400, height);
}

TEST_F(LoudnessDisplayTest, TheTargetLineReadsTheDistanceToTheTarget) {
    using Texts = std::vector<std::string>;
    EXPECT_EQ(targetLineTexts(-14.02, -14.0, true), (Texts{"On your \u221214 target", "On target"}));
    EXPECT_EQ(targetLineTexts(-14.02, -14.0, false).front(), "On your \u221214 target");
    EXPECT_EQ(targetLineTexts(-16.4, -14.0, false).front(), "2.4 LU below your \u221214 target");
    EXPECT_EQ(targetLineTexts(-12.5, -14.0, true),
              (Texts{"1.5 LU over your \u221214 target", "1.5 LU over target", "+1.5 LU"}));
    EXPECT_EQ(targetLineTexts(-16.4, -16.5, true).back(), "+0.1 LU");
    EXPECT_EQ(targetLineTexts(testing::FakeMeterSource::kNothing, -16.5, true),
              (Texts{"Target \u221216.5 LUFS", "Target \u221216.5"}));
}

TEST_F(LoudnessDisplayTest, LevelGradientsAreCachedAndBounded) {
    render(1400, 150);
    const std::size_t kept = view.levelGradientCount();
    EXPECT_GE(kept, 1u);
    render(1400, 150);
    EXPECT_EQ(view.levelGradientCount(), kept);
    for (int i = 0; i < 20; ++i) {  // twenty accents on the way: never more than sixteen kept
        settings.setAccentColor(Rgb{i / 20.0, 0.5, 0.5}, ColorArea::meter);
        view.setTheme(BarTheme::liveLight());
        render(1400, 150);
        EXPECT_LE(view.levelGradientCount(), 16u);
    }
}

TEST_F(LoudnessDisplayTest, TheIntegratedNumberWarnsMoreThanOneLuOverTheTarget) {
    settings.setTargetLUFS(-14.0);
    // Strongly red pixels in the dashboard's integrated number (its zone is
    // the tall one; the vs-target line has its own).
    const auto redPixels = [&] {
        const QImage image = render(1400, 400);
        for (const auto& [zone, hint] : layout.hintZones) {
            if (hint != Hint::integrated || zone.height <= 20) continue;
            return count(image, Rect{zone.minX(), zone.minY(), 60, zone.height},
                         [](QColor c) { return c.red() > 150 && c.green() < 60; });
        }
        return -1;
    };
    meter.value.integrated = -12.5;
    EXPECT_GT(redPixels(), 20);
    meter.value.integrated = -14.5;
    EXPECT_EQ(redPixels(), 0);
}

}  // namespace
}  // namespace crestline
