#include <QCoreApplication>

#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

using testing::BarFixture;

class BarLayoutTest : public BarFixture {};

TEST_F(BarLayoutTest, FlexibleGraphsShareTheFreeWidthByWeightWithAMinimum) {
    settings.setModuleOrder({ColorArea::scope, ColorArea::spectrum});
    settings.setNumber("windowWeight1", 1);
    settings.setNumber("windowWeight2", 3);
    // 444 points: margin 10 and row chrome 34 leave 400 free.
    render(444);
    EXPECT_EQ(view.layout().graphSpan.width, 400);
    EXPECT_EQ(view.layout().rowWidths.at(ColorArea::scope), 150);  // 100 raised to the minimum
    EXPECT_EQ(view.layout().rowWidths.at(ColorArea::spectrum), 300);
    EXPECT_FALSE(view.layout().rowWidths.count(ColorArea::meter));
    ASSERT_EQ(view.layout().trailingLines.size(), 2u);
    const TrailingLine& first = view.layout().trailingLines[0];
    EXPECT_EQ(first.module, ColorArea::scope);
    EXPECT_EQ(first.minimum, 150);
    EXPECT_EQ(first.pairMinX, 10);
    EXPECT_EQ(first.pairWidth, 150);
    EXPECT_EQ(first.rect, (Rect{10 + 150 - 7 - 5, 0, 10, 36}));
}

TEST_F(BarLayoutTest, TheDefaultRowPlacesScopeHistoryAndTheMeter) {
    render(1400);
    const BarLayout& layout = view.layout();
    ASSERT_EQ(layout.meter.layout, MeterLayout::inlineRow);
    const double natural = layout.metrics.totalWidth;
    EXPECT_GT(natural, 300);
    // The meter keeps its natural width; the two graphs share the rest.
    const double free = 1400 - 10 - natural - 34;
    EXPECT_EQ(layout.graphSpan.width, free);
    EXPECT_EQ(layout.rowWidths.at(ColorArea::scope), std::max(150.0, std::round(free / 2)));
    EXPECT_EQ(layout.meterSpan.minX, 10 + layout.rowWidths.at(ColorArea::scope) + layout.rowWidths.at(ColorArea::history));
    EXPECT_EQ(layout.meterSpan.maxX - layout.meterSpan.minX, natural);
    EXPECT_FALSE(layout.meterSpan.lineOnLeft);
    EXPECT_EQ(layout.scrollRange, 0);
    // Without panels every module's shape is its rectangle less the gap.
    EXPECT_EQ(layout.areaShapes.at(ColorArea::scope).width, layout.rowWidths.at(ColorArea::scope) - 14);
    EXPECT_EQ(layout.areaShapes.at(ColorArea::meter).height, 36);
}

TEST_F(BarLayoutTest, AStoredWidthLargerThanTheBarIsLimitedAndTheRowScrolls) {
    render(1400);
    EXPECT_FALSE(view.scrollWheel(0, -3, false));  // nothing to scroll: the wheel is not taken
    settings.setModuleWidth(ColorArea::scope, 5000);
    render(900);
    EXPECT_EQ(view.layout().moduleWidthLimit, 890);
    EXPECT_EQ(view.layout().rowWidths.at(ColorArea::scope), 890);
    const double range = view.layout().scrollRange;
    EXPECT_GT(range, 0);
    // A wheel notch moves 8 points, a trackpad its own distance; the offset
    // stays within the range.
    EXPECT_TRUE(view.scrollWheel(0, -1, false));
    EXPECT_EQ(view.layout().scrollOffset, 8);
    EXPECT_TRUE(view.scrollWheel(-2.5, 1, true));
    EXPECT_EQ(view.layout().scrollOffset, 10.5);
    view.scrollWheel(-1e9, 0, true);
    EXPECT_EQ(view.layout().scrollOffset, range);
    view.scrollWheel(1e9, 0, false);
    EXPECT_EQ(view.layout().scrollOffset, 0);
    // The scrolled row starts left of the view.
    view.scrollWheel(-100, 0, true);
    render(900);
    EXPECT_EQ(view.layout().areaShapes.at(ColorArea::scope).minX(), 10 - 100);
}

TEST_F(BarLayoutTest, TheAddButtonShowsOnlyWhileAModuleIsMissing) {
    render(900);
    ASSERT_TRUE(view.layout().plusRect.has_value());
    EXPECT_EQ(view.layout().plusRect->width, 34 - 8);
    EXPECT_EQ(view.layout().plusRect->height, 36 - 2 * view.layout().groundY);
    settings.setModuleOrder({ColorArea::scope, ColorArea::spectrum, ColorArea::imager, ColorArea::history,
                             ColorArea::spectrogram, ColorArea::meter});
    render(2000);
    EXPECT_FALSE(view.layout().plusRect.has_value());
    EXPECT_EQ(view.layout().rowWidths.size(), 5u);  // the meter's width is natural, not recorded
}

TEST_F(BarLayoutTest, ANotchReservesItsWidthOrOnlyTwentyPointsBesideAStatus) {
    view.setNotchGap(NotchGap{400, 500});
    render(1200);
    EXPECT_EQ(view.layout().content.width, 1200 - (100 + 12 + 20));
    EXPECT_EQ(view.layout().meter.layout, MeterLayout::inlineRow);
    view.setStatus(std::string("Start Ableton Live to meter the master"));
    render(1200);
    EXPECT_EQ(view.layout().content.width, 1200 - 20);
    view.setNotchGap(std::nullopt);
    render(1200);
    EXPECT_EQ(view.layout().content.width, 1200);
}

TEST_F(BarLayoutTest, TheMeterLayoutFollowsTheHeight) {
    const std::pair<double, MeterLayout> cases[] = {{49, MeterLayout::inlineRow},
                                                    {50, MeterLayout::stacked},
                                                    {110, MeterLayout::horizontalDashboard},
                                                    {360, MeterLayout::dashboard}};
    for (const auto& [height, expected] : cases) {
        render(1400, height);
        EXPECT_EQ(view.layout().meter.layout, expected) << height;
    }
    // A notch keeps the inline row at any height.
    view.setNotchGap(NotchGap{600, 700});
    render(1400, 360);
    EXPECT_EQ(view.layout().meter.layout, MeterLayout::inlineRow);
}

TEST_F(BarLayoutTest, StackedMetricsGrowWithTheHeightAndAreCached) {
    render(1400, 50);
    ASSERT_TRUE(view.layout().meter.stacked.has_value());
    const StackedMeter small = *view.layout().meter.stacked;
    EXPECT_EQ(small.labelFont.size(), 10);
    EXPECT_EQ(small.rowGap, 4);
    EXPECT_EQ(small.columnGap, 12);
    EXPECT_GE(small.fieldWidth, 46);
    render(1400, 100);
    const StackedMeter large = *view.layout().meter.stacked;
    EXPECT_EQ(large.labelFont.size(), 12);  // round(10 + 3 * 50/78)
    EXPECT_EQ(large.rowGap, 8);
    EXPECT_EQ(large.columnGap, 16);
    EXPECT_GT(large.fieldWidth, small.fieldWidth);
    // The stacked grid's panels sit further in: both rows must fit.
    EXPECT_EQ(view.layout().groundY, std::min(8.0, std::floor((100 - (2 * large.fieldHeight + large.rowGap) - 4) / 2)));
}

TEST_F(BarLayoutTest, DashboardsAreResizableWithinTheirLimits) {
    render(1400, 150);
    const BarLayout& layout = view.layout();
    EXPECT_EQ(layout.meter.layout, MeterLayout::horizontalDashboard);
    EXPECT_GE(layout.meter.horizontalWidth, 420);
    EXPECT_EQ(layout.meterLimits.first, 300);
    EXPECT_EQ(layout.meterLimits.second, 1390 - 34 - 2 * 150);
    EXPECT_EQ(layout.rowWidths.at(ColorArea::meter), layout.meter.horizontalWidth);
    settings.setMeterWidth(10000);
    render(1400, 150);
    EXPECT_EQ(view.layout().rowWidths.at(ColorArea::meter), 1390 - 34 - 300);
    render(1400, 400);
    EXPECT_EQ(view.layout().meter.dashboardWidth, 240);
    EXPECT_EQ(view.layout().meterLimits.first, 200);
}

TEST_F(BarLayoutTest, MeterSpreadWidensTheInlineMeterUpToItsLimit) {
    render(1400);
    const double natural = view.layout().metrics.totalWidth;
    settings.setMeterSpread(10);
    render(1400);
    const int gaps = 6;  // seven readouts: no target, no "vs Target"
    EXPECT_EQ(view.layout().meterSpreadNow, 10);
    EXPECT_EQ(view.layout().meterSpan.maxX - view.layout().meterSpan.minX, natural + 10 * gaps);
    const TrailingLine& meterLine = view.layout().trailingLines.back();
    EXPECT_EQ(meterLine.module, ColorArea::meter);
    EXPECT_EQ(meterLine.spreadGaps, gaps);
    EXPECT_EQ(meterLine.minimum, natural);
}

TEST_F(BarLayoutTest, MinimumWidthCountsGripMarginMeterAndGraphSlots) {
    view.setBounds({900, 36});
    render(900);
    const double natural = view.layout().metrics.totalWidth;
    // Slot 1 and slot 2 hold graphs: 150 each.
    EXPECT_EQ(view.minimumWidth(), std::trunc(10 + natural + 150 + 150));
    view.setDraggable(true);
    EXPECT_EQ(view.minimumWidth(), std::trunc(14 + 10 + natural + 150 + 150));
    view.setDraggable(false);
    settings.setGraphOrder({GraphKind::scope, GraphKind::history, GraphKind::spectrum, GraphKind::imager});
    EXPECT_EQ(view.minimumWidth(), std::trunc(10 + natural + 150 + 150 + 2 * 150));
}

TEST_F(BarLayoutTest, MinimumWidthWithNothingToShowIsThreeHundredTwenty) {
    settings.setModuleOrder({});
    view.setDraggable(true);
    EXPECT_EQ(view.minimumWidth(), 320);
    render(900);
    EXPECT_TRUE(view.layout().areaShapes.empty());
    EXPECT_TRUE(view.layout().plusRect.has_value());
}

TEST_F(BarLayoutTest, TitleBarsNeedRoomAndSizeToTheShape) {
    view.pointer.hoverArea = ColorArea::scope;
    render(900);
    auto zones = view.layout().editZones;
    ASSERT_EQ(zones.size(), 2u);
    EXPECT_EQ(zones[0].second, (EditTarget{EditTarget::Kind::module, ColorArea::scope}));
    const Rect shape = view.layout().areaShapes.at(ColorArea::scope);
    EXPECT_EQ(zones[0].first, (Rect{shape.minX(), shape.maxY() - 16, shape.width, 16}));
    EXPECT_EQ(zones[1].second, (EditTarget{EditTarget::Kind::options, ColorArea::scope}));
    EXPECT_EQ(zones[1].first.width, 12 + 6);  // gear 12 grown by 3 on each side
    EXPECT_EQ(zones[1].first.height, 12 + 4);

    // A 28-point bar: shapes under 30 high get a title bar of half their
    // height (at most 16, at least 11) and a smaller gear.
    render(900, 28);
    zones = view.layout().editZones;
    ASSERT_EQ(zones.size(), 2u);
    EXPECT_EQ(zones[0].first.height, 14);
    EXPECT_EQ(zones[1].first.width, 10 + 6);

    // Narrower than 60: no title bar at all.
    settings.setModuleWidth(ColorArea::scope, 150);
    settings.setModuleOrder({ColorArea::scope, ColorArea::meter});
    render(900);
    ASSERT_FALSE(view.layout().editZones.empty());
    view.pointer.hoverArea = ColorArea::meter;
    view.pointer.selectedArea = ColorArea::scope;
    render(900);
    EXPECT_EQ(view.layout().editZones.size(), 4u);  // selected and hovered
    view.setStatus(std::string("status"));
    render(900);
    EXPECT_TRUE(view.layout().editZones.empty());
}

TEST_F(BarLayoutTest, TheTitleIsDrawnLeftOfTheGear) {
    // Title bars are filled with one colour; count the pixels of the bar's
    // left part that differ from it.
    view.pointer.hoverArea = ColorArea::history;
    const QImage image = render(1400);
    const Rect bar = view.layout().editZones.at(0).first;
    const QColor fill = pixelAt(image, bar.maxX() - 2, bar.midY());
    int differing = 0;
    for (double x = bar.minX() + 6; x < bar.minX() + 40; x += 0.5) {
        for (double y = bar.minY() + 2; y < bar.maxY() - 2; y += 0.5) differing += pixelAt(image, x, y) != fill;
    }
    EXPECT_GT(differing, 10);
}

TEST_F(BarLayoutTest, FrameChangesAreReportedOnceOnTheMainQueue) {
    int calls = 0;
    view.onFrameChanged = [&] { ++calls; };
    render(900);
    EXPECT_EQ(calls, 0);  // never from inside the drawing
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    render(900);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    settings.setModuleWidth(ColorArea::history, 200);
    render(900);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 2);
}

TEST_F(BarLayoutTest, AFrameChangePostedByAViewThatIsGoneIsDropped) {
    int calls = 0;
    {
        BarView doomed(settings, &meter, clock);
        doomed.onFrameChanged = [&] { ++calls; };
        renderBar(doomed, {900, 36}, 2.0);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(BarLayoutTest, ThemeKeyAndPerModuleAccents) {
    EXPECT_EQ(view.themeColourKey(), view.barTheme().meterFill.key() + "," + view.barTheme().background.key());
    const std::string key = view.themeColourKey();
    EXPECT_EQ(std::count(key.begin(), key.end(), ','), 7);
    settings.setAccentColor(Rgb{0.0, 1.0, 0.0}, ColorArea::scope);
    view.setTheme(BarTheme::liveDark());
    EXPECT_EQ(view.areaThemes().at(ColorArea::scope).meterFill, (Colour{0.0, 1.0, 0.0, 1.0}));
    EXPECT_EQ(view.areaThemes().at(ColorArea::meter), BarTheme::liveDark());
    EXPECT_EQ(view.areaThemes().size(), 6u);
}

TEST_F(BarLayoutTest, ThemeOrScaleChangesEmptyTheTextCache) {
    render(900);
    EXPECT_GT(view.texts().imageCount(), 0u);
    view.setTheme(BarTheme::scope());
    EXPECT_EQ(view.texts().imageCount(), 0u);
    render(900, 36, 2.0);
    EXPECT_GT(view.texts().imageCount(), 0u);
    render(900, 36, 1.0);  // a new scale: the old images went before drawing
    const std::size_t afterOneFrame = view.texts().imageCount();
    render(900, 36, 1.0);
    EXPECT_EQ(view.texts().imageCount(), afterOneFrame);
}

TEST_F(BarLayoutTest, TheDisplayLinkRedrawsOnlyWhileSomethingHappens) {
    EXPECT_FALSE(view.step());  // nothing ever arrived
    meter.blocks = 1;
    EXPECT_TRUE(view.step());
    clock.advance(3.9);
    EXPECT_TRUE(view.step());
    clock.advance(0.2);
    EXPECT_FALSE(view.step());  // 4.1 s without new audio
    meter.blocks = 2;
    EXPECT_TRUE(view.step());
    clock.advance(10);
    std::optional<double> lastMessage;
    view.transportLastMessage = [&] { return lastMessage; };
    EXPECT_FALSE(view.step());
    lastMessage = clock.now() - 1.4;
    EXPECT_TRUE(view.step());
    lastMessage = clock.now() - 1.6;
    EXPECT_FALSE(view.step());
}

TEST_F(BarLayoutTest, TheStatusLayoutPutsTheTextLeftOfTheMeter) {
    view.setStatus(std::string("This Mac's sound cannot be tapped yet. Trying again in 2 seconds."));
    const QImage image = render(1400);
    const BarLayout& layout = view.layout();
    ASSERT_TRUE(layout.statusRect.has_value());
    EXPECT_EQ(layout.statusRect->minX(), 10 + 4);
    EXPECT_LE(layout.statusRect->maxX(), layout.meterRect.minX());
    EXPECT_EQ(layout.meterRect.maxX(), 1400);
    EXPECT_TRUE(layout.trailingLines.empty() || layout.trailingLines == std::vector<TrailingLine>{});
    // Ink in the text's box, background between the text and the meter.
    const QColor background = pixelAt(image, layout.statusRect->maxX() + 5, 20);
    int ink = 0;
    for (double x = layout.statusRect->minX(); x < layout.statusRect->maxX(); x += 0.5) {
        ink += pixelAt(image, x, layout.statusRect->midY()) != background;
    }
    EXPECT_GT(ink, 20);
    EXPECT_EQ(background.rgb(), view.barTheme().background.toQColor().rgb());
}

TEST_F(BarLayoutTest, PanelsInsetTheModulesAndNarrowTheGaps) {
    BarTheme live = BarTheme::liveLight();
    live.panel = Colour{0.5, 0.5, 0.5, 1.0};
    view.setTheme(live);
    render(1400);
    const BarLayout& layout = view.layout();
    EXPECT_EQ(layout.groundY, 8);  // floor((36 - 15 - 4) / 2), capped at 8
    const Rect scope = layout.areaShapes.at(ColorArea::scope);
    EXPECT_EQ(scope.minX(), 8);  // the margin is the ground
    EXPECT_EQ(scope.minY(), 8);
    EXPECT_EQ(scope.height, 36 - 16);
    EXPECT_EQ(scope.width, layout.rowWidths.at(ColorArea::scope) - 8);
    // A window title bar lifts the panels by one point.
    view.setHasTitleBar(true);
    render(1400);
    EXPECT_EQ(view.layout().groundY, 8);  // floor((36 - 15 - 4 - 1) / 2)
    EXPECT_EQ(view.layout().areaShapes.at(ColorArea::scope).minY(), 9);
    EXPECT_EQ(view.layout().areaShapes.at(ColorArea::scope).minX(), 9);
    // Beside a notch the inset is at most 4.
    view.setHasTitleBar(false);
    view.setNotchGap(NotchGap{600, 700});
    render(1400, 60);
    EXPECT_EQ(view.layout().groundY, 4);
}

TEST_F(BarLayoutTest, TheNotchPictureShowsTheRowOnBothSidesOfTheNotch) {
    BarTheme plain = BarTheme::scope();
    view.setTheme(plain);
    view.setNotchGap(NotchGap{300, 400});
    const QImage image = render(1400);
    const QColor background = plain.background.toQColor();
    const auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
               std::abs(a.blue() - b.blue()) <= 2;
    };
    // The notch itself (and the margins around it) show only the background.
    for (double x = 294.5; x < 406; x += 1.0) {
        for (double y = 1.5; y < 36; y += 3.0) ASSERT_TRUE(near(pixelAt(image, x, y), background)) << x << "," << y;
    }
    // The meter, laid out at the right end of the shortened row, appears
    // past the notch, 112 points further right.
    const double shift = 100 + 12;
    // The row ends before the add button's 34 points and the meter's gap.
    EXPECT_NEAR(view.layout().meterRect.maxX() + shift, 1400 - 20 - 34 - 14, 1.0);
    // Without status, ink of the meter's readouts sits right of the notch.
    int ink = 0;
    for (double x = view.layout().meterRect.minX() + shift; x < 1400 - 34; x += 1.0) {
        ink += !near(pixelAt(image, x, 18), background);
    }
    EXPECT_GT(ink, 50);
}

}  // namespace
}  // namespace crestline
