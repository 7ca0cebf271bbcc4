#include "bar/meter_readouts.h"

#include <gtest/gtest.h>

#include <cmath>

namespace crestline {
namespace {

const ReadoutColours kColours{{0.2, 0.4, 0.6, 1.0}, {1.0, 0.0, 0.0, 1.0}};
constexpr double kInf = std::numeric_limits<double>::infinity();

const Readout* find(const std::vector<Readout>& items, const std::string& label) {
    for (const auto& item : items) {
        if (item.label == label) return &item;
    }
    return nullptr;
}

TEST(MeterFormats, LevelsUseTheMinusSignAndReadMinusInfinityWhenAbsent) {
    EXPECT_EQ(formatLevel(-14.04), "\u221214.0");
    EXPECT_EQ(formatLevel(3.25), "3.2");
    EXPECT_EQ(formatLevel(-98.9), "\u221298.9");
    EXPECT_EQ(formatLevel(-99.0), "\u2212\u221e");
    EXPECT_EQ(formatLevel(-kInf), "\u2212\u221e");
    EXPECT_EQ(formatLevel(NAN), "\u2212\u221e");
    EXPECT_EQ(formatLevel(kInf), "\u2212\u221e");
    EXPECT_EQ(formatLevel(-0.04), "\u22120.0");
}

TEST(MeterFormats, AmountsAndDifferencesReadEnDashWhenUndefined) {
    EXPECT_EQ(formatAmount(6.54), "6.5");
    EXPECT_EQ(formatAmount(NAN), "\u2013");
    EXPECT_EQ(formatAmount(-kInf), "\u2013");
    EXPECT_EQ(formatDifference(1.5), "+1.5");
    EXPECT_EQ(formatDifference(-2.4), "\u22122.4");
    EXPECT_EQ(formatDifference(0.0), "+0.0");
    EXPECT_EQ(formatDifference(NAN), "\u2013");
}

TEST(MeterFormats, TargetsDropTheFractionWhenWhole) {
    EXPECT_EQ(formatTarget(-14.0), "\u221214");
    EXPECT_EQ(formatTarget(-16.5), "\u221216.5");
    EXPECT_EQ(formatTarget(-23.25), "\u221223.2");
}

TEST(MeterReadouts, AllPartsInOrderWithTheirTargetsAndHints) {
    LoudnessReading r;
    r.momentary = -12.0;
    r.shortTerm = -13.0;
    r.integrated = -14.0;
    r.loudnessRange = 5.0;
    r.shortTermPeak = -3.0;
    r.truePeak = -0.5;
    const auto items = readouts(r, MeterParts{}, -14.0, false, kColours);
    ASSERT_EQ(items.size(), 8u);
    const char* labels[] = {"Momentary", "Short", "Integrated", "vs Target", "LRA", "PSR", "True Peak", "Peak"};
    for (std::size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].label, labels[i]);
    EXPECT_FALSE(items[0].target.has_value());
    EXPECT_EQ(items[1].target, ResetTarget::of(ResetTarget::Kind::shortTerm));
    EXPECT_EQ(items[2].target, ResetTarget::of(ResetTarget::Kind::integrated));
    EXPECT_TRUE(items[2].hero);
    EXPECT_TRUE(items[3].hero);
    EXPECT_EQ(items[5].text, "10.0");
    EXPECT_FALSE(items[5].warn);
    EXPECT_TRUE(items[6].warn);  // true peak above -1
    EXPECT_EQ(items[6].target, ResetTarget::of(ResetTarget::Kind::truePeak));
    EXPECT_TRUE(items[7].isPeakMeter);
    EXPECT_EQ(items[7].text, "");
    EXPECT_EQ(items[7].hint, Hint::peak);
}

TEST(MeterReadouts, VsTargetStatusFollowsTheDistanceToTheTarget) {
    LoudnessReading r;
    r.integrated = -12.5;  // 1.5 LU over a -14 target: warn mark
    auto items = readouts(r, MeterParts{}, -14.0, false, kColours);
    const Readout* vs = find(items, "vs Target");
    ASSERT_NE(vs, nullptr);
    EXPECT_EQ(vs->text, "+1.5");
    EXPECT_EQ(vs->status, kColours.warn);

    r.integrated = -16.4;  // 2.4 LU below: no mark
    items = readouts(r, MeterParts{}, -14.0, false, kColours);
    vs = find(items, "vs Target");
    EXPECT_EQ(vs->text, "\u22122.4");
    EXPECT_FALSE(vs->status.has_value());

    r.integrated = -15.0;  // exactly 1 LU below: within
    items = readouts(r, MeterParts{}, -14.0, false, kColours);
    EXPECT_EQ(find(items, "vs Target")->status, kColours.meterFill);

    r.integrated = -kInf;  // no integrated yet
    items = readouts(r, MeterParts{}, -14.0, false, kColours);
    EXPECT_EQ(find(items, "vs Target")->text, "\u2013");
    EXPECT_FALSE(find(items, "vs Target")->status.has_value());
}

TEST(MeterReadouts, VsTargetNeedsATargetAndTheIntegratedPart) {
    LoudnessReading r;
    EXPECT_EQ(find(readouts(r, MeterParts{}, std::nullopt, false, kColours), "vs Target"), nullptr);
    MeterParts parts;
    parts.integrated = false;
    EXPECT_EQ(find(readouts(r, parts, -14.0, false, kColours), "vs Target"), nullptr);
}

TEST(MeterReadouts, HiddenPartsAndUndefinedValues) {
    MeterParts parts;
    parts.momentary = parts.loudnessRange = parts.peak = false;
    LoudnessReading r;
    r.shortTerm = -20.0;
    r.shortTermPeak = -17.0;
    const auto items = readouts(r, parts, std::nullopt, true, kColours);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].label, "Short");
    EXPECT_EQ(find(items, "Integrated")->text, "\u2212\u221e");
    EXPECT_EQ(find(items, "PSR")->text, "3.0");
    EXPECT_TRUE(find(items, "PSR")->warn);
    EXPECT_FALSE(find(items, "True Peak")->warn);
    // With no short-term the PSR is undefined and does not warn.
    LoudnessReading empty;
    EXPECT_EQ(find(readouts(empty, parts, std::nullopt, false, kColours), "PSR")->text, "\u2013");
    EXPECT_FALSE(find(readouts(empty, parts, std::nullopt, false, kColours), "PSR")->warn);
}

TEST(MeterReadouts, GridColumnsGroupByHintAndDropEmptyColumns) {
    LoudnessReading r;
    auto items = readouts(r, MeterParts{}, -14.0, false, kColours);
    const auto columns = gridColumns(items);
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[0], (std::vector<int>{0, 1}));
    EXPECT_EQ(columns[1], (std::vector<int>{2, 3}));
    EXPECT_EQ(columns[2], (std::vector<int>{4, 5}));
    EXPECT_EQ(columns[3], (std::vector<int>{6, 7}));
    MeterParts parts;
    parts.loudnessRange = parts.psr = false;
    items = readouts(r, parts, std::nullopt, false, kColours);
    EXPECT_EQ(gridColumns(items).size(), 3u);
}

TEST(MeterLayoutChoice, HeightsAtTheBoundaries) {
    EXPECT_EQ(meterLayoutFor(49, false), MeterLayout::inlineRow);
    EXPECT_EQ(meterLayoutFor(50, false), MeterLayout::stacked);
    EXPECT_EQ(meterLayoutFor(109.5, false), MeterLayout::stacked);
    EXPECT_EQ(meterLayoutFor(110, false), MeterLayout::horizontalDashboard);
    EXPECT_EQ(meterLayoutFor(359, false), MeterLayout::horizontalDashboard);
    EXPECT_EQ(meterLayoutFor(360, false), MeterLayout::dashboard);
    EXPECT_EQ(meterLayoutFor(360, true), MeterLayout::inlineRow);
    EXPECT_EQ(meterLayoutFor(NAN, false), MeterLayout::inlineRow);
}

TEST(MeterLayoutChoice, DashboardWidthGrowsWithHeightWithinItsBounds) {
    EXPECT_EQ(dashboardWidthFor(360, 2000), 240);
    EXPECT_EQ(dashboardWidthFor(800, 2000), 336);
    EXPECT_EQ(dashboardWidthFor(2000, 2000), 380);
    EXPECT_EQ(dashboardWidthFor(800, 200), 200);
    EXPECT_EQ(dashboardWidthFor(800, 50), 160);
}

TEST(PeakHold, HoldStaysThenFollowsTheFallingBar) {
    PeakHold p;
    p.update(10.0, -6.0, -12.0);
    EXPECT_EQ(p.shown[0], -6.0);
    EXPECT_EQ(p.hold[0], -6.0);
    EXPECT_EQ(p.holdUntil[0], 11.5);
    double now = 10.0;
    // 1.375 s of silence in frames of 1/8 s: the bar falls 3 dB per frame,
    // the hold stays.
    for (int i = 0; i < 11; ++i) {
        now += 0.125;
        p.update(now, -kInf, -kInf);
    }
    EXPECT_NEAR(p.shown[0], -6.0 - 24.0 * 1.375, 1e-9);
    EXPECT_EQ(p.hold[0], -6.0);
    now += 0.125;  // 1.5 s after the peak: the hold lets go
    p.update(now, -kInf, -kInf);
    EXPECT_NEAR(p.hold[0], -6.0 - 24.0 * 1.5, 1e-9);
    EXPECT_EQ(p.hold[0], p.shown[0]);
    EXPECT_FALSE(p.clipped);
}

TEST(PeakHold, LongGapsFallAtMostAQuarterSecondAndANewPeakRestartsTheHold) {
    PeakHold p;
    p.update(0.0, -3.0, -3.0);
    p.update(1.0, -kInf, -kInf);  // a stalled display: one step of 0.25 s
    EXPECT_NEAR(p.shown[0], -9.0, 1e-9);
    EXPECT_EQ(p.hold[0], -3.0);
    p.update(1.1, -1.0, -20.0);
    EXPECT_EQ(p.hold[0], -1.0);
    EXPECT_NEAR(p.holdUntil[0], 2.6, 1e-9);
    EXPECT_EQ(p.hold[1], -3.0);
}

TEST(PeakHold, ClipIsStickyForBothChannelsUntilReset) {
    PeakHold p;
    p.update(0.0, -0.06, -20.0);
    EXPECT_FALSE(p.clipped);
    p.update(0.1, -20.0, -0.04);
    EXPECT_TRUE(p.clipped);
    p.update(5.0, -kInf, -kInf);
    EXPECT_TRUE(p.clipped);
    p.reset();
    EXPECT_FALSE(p.clipped);
    EXPECT_EQ(p.hold[0], -kInf);
    p.update(5.1, NAN, -30.0);  // a NaN level counts as nothing
    EXPECT_FALSE(std::isnan(p.shown[0]));
}

}  // namespace
}  // namespace crestline
