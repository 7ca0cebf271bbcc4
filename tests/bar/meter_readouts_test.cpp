#include "bar/meter_readouts.h"

#include <gtest/gtest.h>

#include <cmath>

namespace crestline {
namespace {

const ReadoutColours kColours{{0.2, 0.4, 0.6, 1.0}, {1.0, 0.0, 0.0, 1.0}};
constexpr double kInf = std::numeric_limits<double>::infinity();
const std::string kMinusInf = "\u2212\u221e";
const std::string kEnDash = "\u2013";

// The readout with `label` or nothing; it points into `items`, so no temporaries.
const Readout* find(const std::vector<Readout>& items, const std::string& label) {
    const auto item = std::find_if(items.begin(), items.end(), [&](const Readout& r) { return r.label == label; });
    return item != items.end() ? &*item : nullptr;
}
const Readout* find(std::vector<Readout>&&, const std::string&) = delete;

TEST(MeterFormats, MinusSignsMissingValuesAndRounding) {
    const std::pair<std::string, std::string> cases[] = {
        {formatLevel(-14.04), "\u221214.0"}, {formatLevel(3.25), "3.2"},       {formatLevel(-98.9), "\u221298.9"},
        {formatLevel(-99.0), kMinusInf},     {formatLevel(-kInf), kMinusInf},  {formatLevel(NAN), kMinusInf},
        {formatLevel(kInf), kMinusInf},      {formatLevel(-0.04), "0.0"}, {formatAmount(6.54), "6.5"},
        {formatAmount(NAN), kEnDash},        {formatAmount(-kInf), kEnDash},   {formatDifference(1.5), "+1.5"},
        {formatDifference(-2.4), "\u22122.4"}, {formatDifference(0.0), "0.0"}, {formatDifference(NAN), kEnDash},
        // Whatever rounds to zero has no side: no sign.
        {formatAmount(-0.04), "0.0"},        {formatDifference(-0.04), "0.0"}, {formatDifference(0.049), "0.0"},
        {formatDifference(0.05), "+0.1"},    {formatLevel(-0.05), "\u22120.1"}, {formatTarget(0.0), "0"},
        {formatTarget(-0.04), "0.0"},
        {formatTarget(-14.0), "\u221214"},   {formatTarget(-16.5), "\u221216.5"}, {formatTarget(-23.25), "\u221223.2"},
    };
    for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

TEST(MeterReadouts, AllPartsInOrderWithTheirResetsAndWarnings) {
    const LoudnessReading r{.shortTerm = -13.0, .truePeak = -0.5, .shortTermPeak = -3.0};
    const auto items = readouts(r, MeterParts{}, -14.0, false, kColours);
    std::vector<std::string> labels;
    std::vector<std::optional<ResetTarget::Kind>> resets;
    for (const auto& item : items) {
        labels.push_back(item.label);
        resets.push_back(item.target ? std::optional(item.target->kind) : std::nullopt);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Momentary", "Short", "Integrated", "vs Target", "LRA", "PSR",
                                                "True Peak", "Peak"}));
    using K = ResetTarget::Kind;
    EXPECT_EQ(resets, (decltype(resets){std::nullopt, K::shortTerm, K::integrated, std::nullopt, std::nullopt,
                                        std::nullopt, K::truePeak, K::peakHold}));
    EXPECT_TRUE(items[2].hero && items[3].hero);
    EXPECT_EQ(items[5].text, "10.0");
    EXPECT_FALSE(items[5].warn);
    EXPECT_TRUE(items[6].warn);  // true peak above -1
    EXPECT_TRUE(items[7].isPeakMeter);
    EXPECT_EQ(items[7].text, "");
}

TEST(MeterReadouts, VsTargetStatusFollowsTheDistanceToTheTarget) {
    const std::tuple<double, std::string, std::optional<Colour>> cases[] = {
        {-12.5, "+1.5", kColours.warn},            // over by more than 1 LU
        {-16.4, "\u22122.4", std::nullopt},        // far below
        {-15.0, "\u22121.0", kColours.meterFill},  // exactly 1 LU below: within
        {-kInf, kEnDash, std::nullopt},            // no integrated yet
    };
    for (const auto& [integrated, text, status] : cases) {
        const auto items = readouts({.integrated = integrated}, MeterParts{}, -14.0, false, kColours);
        const Readout* vs = find(items, "vs Target");
        ASSERT_NE(vs, nullptr);
        EXPECT_EQ(vs->text, text) << integrated;
        EXPECT_EQ(vs->status, status) << integrated;
    }
    // It needs a target and the integrated part.
    const auto withoutTarget = readouts({}, MeterParts{}, std::nullopt, false, kColours);
    EXPECT_EQ(find(withoutTarget, "vs Target"), nullptr);
    MeterParts parts;
    parts.integrated = false;
    const auto withoutIntegrated = readouts({}, parts, -14.0, false, kColours);
    EXPECT_EQ(find(withoutIntegrated, "vs Target"), nullptr);
}

TEST(MeterReadouts, HiddenPartsUndefinedValuesAndGridColumns) {
    EXPECT_EQ(gridColumns(readouts({}, MeterParts{}, -14.0, false, kColours)).vectors(),
              (std::vector<std::vector<int>>{{0, 1}, {2, 3}, {4, 5}, {6, 7}}));
    MeterParts parts;
    parts.loudnessRange = parts.psr = false;
    EXPECT_EQ(gridColumns(readouts({}, parts, std::nullopt, false, kColours)).size(), 3u);
    parts.psr = true;
    parts.momentary = parts.peak = false;
    const auto items = readouts({.shortTerm = -20.0, .shortTermPeak = -17.0}, parts, std::nullopt, true, kColours);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].label, "Short");
    EXPECT_EQ(find(items, "Integrated")->text, kMinusInf);
    EXPECT_EQ(find(items, "PSR")->text, "3.0");
    EXPECT_TRUE(find(items, "PSR")->warn);
    EXPECT_FALSE(find(items, "True Peak")->warn);
    EXPECT_EQ(gridColumns(items).vectors(), (std::vector<std::vector<int>>{{0}, {1}, {2}, {3}}));
    // With no short-term the PSR is undefined and does not warn.
    const auto empty = readouts({}, parts, std::nullopt, false, kColours);
    EXPECT_EQ(find(empty, "PSR")->text, kEnDash);
    EXPECT_FALSE(find(empty, "PSR")->warn);
}

TEST(MeterLayoutChoice, HeightsAtTheBoundariesAndDashboardWidths) {
    const std::pair<double, MeterLayout> cases[] = {
        {49, MeterLayout::inlineRow},  {50, MeterLayout::stacked},  {109.5, MeterLayout::stacked},
        {110, MeterLayout::horizontalDashboard}, {359, MeterLayout::horizontalDashboard},
        {360, MeterLayout::dashboard}, {NAN, MeterLayout::inlineRow},
    };
    for (const auto& [height, expected] : cases) EXPECT_EQ(meterLayoutFor(height, false), expected) << height;
    EXPECT_EQ(meterLayoutFor(360, true), MeterLayout::inlineRow);  // beside a notch
    const std::tuple<double, double, double> widths[] = {
        {360, 2000, 240}, {800, 2000, 336}, {2000, 2000, 380}, {800, 200, 200}, {800, 50, 160}};
    for (const auto& [height, limit, width] : widths) EXPECT_EQ(dashboardWidthFor(height, limit), width) << height;
}

TEST(PeakHold, HoldStaysThenFollowsTheFallingBarAndANewPeakRestartsIt) {
    PeakHold p;
    p.update(10.0, -6.0, -12.0);
    EXPECT_EQ(std::tuple(p.shown[0], p.hold[0], p.holdUntil[0]), std::tuple(-6.0, -6.0, 11.5));
    // 1.375 s of silence in frames of 1/8 s: the bar falls 3 dB a frame, the hold stays.
    double now = 10.0;
    for (int i = 0; i < 11; ++i) p.update(now += 0.125, -kInf, -kInf);
    EXPECT_NEAR(p.shown[0], -6.0 - 24.0 * 1.375, 1e-9);
    EXPECT_EQ(p.hold[0], -6.0);
    p.update(now += 0.125, -kInf, -kInf);  // 1.5 s after the peak: the hold lets go
    EXPECT_NEAR(p.hold[0], -6.0 - 24.0 * 1.5, 1e-9);
    EXPECT_EQ(p.hold[0], p.shown[0]);

    p.update(20.0, -3.0, -3.0);
    p.update(21.0, -kInf, -kInf);  // a stalled display falls one step of 0.25 s
    EXPECT_NEAR(p.shown[0], -9.0, 1e-9);
    EXPECT_EQ(p.hold[0], -3.0);
    p.update(21.1, -1.0, -20.0);
    EXPECT_EQ(p.hold[0], -1.0);
    EXPECT_NEAR(p.holdUntil[0], 22.6, 1e-9);
    EXPECT_EQ(p.hold[1], -3.0);
    EXPECT_FALSE(p.clipped);
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
