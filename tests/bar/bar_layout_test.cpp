#include <QCoreApplication>

#include "tests/bar/bar_fixture.h"

namespace crestline {
namespace {

using BarLayoutTest = testing::BarFixture;

TEST_F(BarLayoutTest, FlexibleGraphsShareTheFreeWidthByWeightWithAMinimum) {
    settings.setModuleOrder({ColorArea::scope, ColorArea::spectrum});
    settings.setNumber("windowWeight1", 1);
    settings.setNumber("windowWeight2", 3);
    render(444);  // margin 10 and row chrome 34 leave 400 free
    EXPECT_EQ(layout.graphSpan.width, 400);
    // The scope's 100 is raised to the minimum; the meter is not in the row.
    EXPECT_EQ(layout.rowWidths, (AreaMap<double>{{ColorArea::scope, 150}, {ColorArea::spectrum, 300}}));
    ASSERT_EQ(layout.trailingLines.size(), 2u);
    EXPECT_EQ(layout.trailingLines[0], (TrailingLine{{148, 0, 10, 36}, 0, -1, 10, 150, ColorArea::scope, 150}));
}

TEST_F(BarLayoutTest, TheMeterKeepsItsNaturalWidthPlusItsSpreadAndTheGraphsShareTheRest) {
    render(1400);
    ASSERT_EQ(layout.meter.layout, MeterLayout::inlineRow);
    const double natural = layout.metrics.totalWidth + 14;  // the gap after it comes on top
    const double free = 1400 - 10 - natural - 34;
    const double scope = layout.rowWidths.at(ColorArea::scope);
    EXPECT_EQ(layout.graphSpan.width, free);
    EXPECT_EQ(scope, std::max(150.0, std::round(free / 2)));
    EXPECT_EQ(layout.meterSpan.minX, 10 + scope + layout.rowWidths.at(ColorArea::history));
    EXPECT_EQ(layout.meterSpan.maxX - layout.meterSpan.minX, natural);
    // Without panels every module's shape is its rectangle less the gap.
    EXPECT_EQ(layout.areaShapes.at(ColorArea::scope).width, scope - 14);

    settings.setMeterSpread(10);
    render(1400);
    const int gaps = 6;  // seven readouts: no target, no "vs Target"
    EXPECT_EQ(layout.meterSpreadNow, 10);
    EXPECT_EQ(layout.meterSpan.maxX - layout.meterSpan.minX, natural + 10 * gaps);
    const TrailingLine& meterLine = layout.trailingLines.back();
    EXPECT_EQ(meterLine.module, ColorArea::meter);
    EXPECT_EQ(meterLine.spreadGaps, gaps);
    EXPECT_EQ(meterLine.minimum, natural);
}

TEST_F(BarLayoutTest, AStoredWidthLargerThanTheBarIsLimitedAndTheRowScrolls) {
    render(1400);
    EXPECT_FALSE(view.scrollWheel(0, -3, false));  // nothing to scroll: the wheel is not taken
    settings.setModuleWidth(ColorArea::scope, 5000);
    render(900);
    EXPECT_EQ(layout.moduleWidthLimit, 890);
    EXPECT_EQ(layout.rowWidths.at(ColorArea::scope), 890);
    const double range = layout.scrollRange;
    EXPECT_GT(range, 0);
    // A wheel notch moves 8 points, a trackpad its own distance, within the range.
    const std::tuple<double, double, bool, double> moves[] = {
        {0, -1, false, 8}, {-2.5, 1, true, 10.5}, {-1e9, 0, true, range}, {1e9, 0, false, 0}};
    for (const auto& [dx, dy, precise, offset] : moves) {
        EXPECT_TRUE(view.scrollWheel(dx, dy, precise));
        EXPECT_EQ(layout.scrollOffset, offset);
    }
    view.scrollWheel(-100, 0, true);
    render(900);
    EXPECT_EQ(layout.areaShapes.at(ColorArea::scope).minX(), 10 - 100);
}

TEST_F(BarLayoutTest, TheAddButtonShowsOnlyWhileAModuleIsMissing) {
    render(900);
    ASSERT_TRUE(layout.plusRect.has_value());
    EXPECT_EQ(layout.plusRect->width, 34 - 8);
    EXPECT_EQ(layout.plusRect->height, 36 - 2 * layout.groundY);
    settings.setModuleOrder({ColorArea::scope, ColorArea::spectrum, ColorArea::imager, ColorArea::history,
                             ColorArea::spectrogram, ColorArea::meter});
    render(2000);
    EXPECT_FALSE(layout.plusRect.has_value());
    EXPECT_EQ(layout.rowWidths.size(), 5u);  // the meter's width is natural, not recorded
    settings.setModuleOrder({});
    render(900);
    EXPECT_TRUE(layout.areaShapes.empty());
    EXPECT_TRUE(layout.plusRect.has_value());
}

TEST_F(BarLayoutTest, MinimumWidthCountsGripMarginMeterAndGraphSlots) {
    view.setBounds({900, 36});
    render(900);
    const double natural = layout.metrics.totalWidth + 14;  // with the gap after the meter
    EXPECT_EQ(view.minimumWidth(), std::trunc(10 + natural + 150 + 150));  // two graph slots
    view.setDraggable(true);
    EXPECT_EQ(view.minimumWidth(), std::trunc(14 + 10 + natural + 150 + 150));
    view.setDraggable(false);
    settings.setGraphOrder({GraphKind::scope, GraphKind::history, GraphKind::spectrum, GraphKind::imager});
    EXPECT_EQ(view.minimumWidth(), std::trunc(10 + natural + 4 * 150));
    settings.setModuleOrder({});
    view.setDraggable(true);
    EXPECT_EQ(view.minimumWidth(), 320);  // with nothing to show
}

TEST_F(BarLayoutTest, StackedMetricsGrowWithTheHeightAndBothRowsFit) {
    std::optional<StackedMeter> smaller, smallest;
    for (const double height : {50.0, 75.0, 100.0}) {
        render(1400, height);
        ASSERT_TRUE(layout.meter.stacked.has_value()) << height;
        const StackedMeter& m = *layout.meter.stacked;
        if (smaller) {
            EXPECT_GT(m.labelFont.size(), smaller->labelFont.size()) << height;
            EXPECT_GE(m.fieldWidth, smaller->fieldWidth) << height;
        }
        // The panels sit far enough in for both rows.
        EXPECT_LE(2 * m.fieldHeight + m.rowGap + 2 * layout.groundY, height) << height;
        smaller = m;
        if (!smallest) smallest = m;
    }
    EXPECT_GT(smaller->fieldWidth, smallest->fieldWidth);
}

TEST_F(BarLayoutTest, DashboardsAreResizableWithinTheirLimitsAndANotchKeepsTheRow) {
    render(1400, 150);
    EXPECT_EQ(layout.meter.layout, MeterLayout::horizontalDashboard);
    EXPECT_GE(layout.meter.horizontalWidth, 420);
    EXPECT_EQ(layout.meterLimits, (std::pair<double, double>{300, 1390 - 34 - 2 * 150}));
    EXPECT_EQ(layout.rowWidths.at(ColorArea::meter), layout.meter.horizontalWidth);
    settings.setMeterWidth(10000);
    render(1400, 150);
    EXPECT_EQ(layout.rowWidths.at(ColorArea::meter), 1390 - 34 - 300);
    render(1400, 400);
    EXPECT_EQ(layout.meter.layout, MeterLayout::dashboard);
    EXPECT_EQ(layout.meter.dashboardWidth, 240);
    EXPECT_EQ(layout.meterLimits.first, 200);
    view.setNotchGap(NotchGap{600, 700});
    render(1400, 400);
    EXPECT_EQ(layout.meter.layout, MeterLayout::inlineRow);
}

TEST_F(BarLayoutTest, TitleBarsNeedRoomAndSizeToTheShape) {
    view.pointer.hoverArea = ColorArea::scope;
    const QImage image = render(900);
    const auto& zones = layout.editZones;
    ASSERT_EQ(zones.size(), 2u);
    const Rect shape = layout.areaShapes.at(ColorArea::scope);
    const Rect title{shape.minX(), shape.maxY() - 16, shape.width, 16};
    EXPECT_EQ(zones[0], std::pair(title, EditTarget{EditTarget::Kind::module, ColorArea::scope}));
    EXPECT_EQ(zones[1].second, (EditTarget{EditTarget::Kind::options, ColorArea::scope}));
    EXPECT_EQ(std::pair(zones[1].first.width, zones[1].first.height), std::pair(12.0 + 6, 12.0 + 4));  // the gear's 12
    // The title's text is drawn at the left of the one-coloured bar.
    const QColor fill = pixelAt(image, title.maxX() - 2, title.midY());
    EXPECT_GT(count(image, Rect{title.minX() + 6, title.minY() + 2, 34, 12}, [&](QColor c) { return c != fill; }), 10);

    // Shapes under 30 high get a title bar of half their height (11 to 16) and a smaller gear.
    render(900, 28);
    ASSERT_EQ(zones.size(), 2u);
    EXPECT_EQ(zones[0].first.height, 14);
    EXPECT_EQ(zones[1].first.width, 10 + 6);

    settings.setModuleOrder({ColorArea::scope, ColorArea::meter});
    view.pointer.hoverArea = ColorArea::meter;
    view.pointer.selectedArea = ColorArea::scope;
    render(900);
    EXPECT_EQ(zones.size(), 4u);  // selected and hovered
    view.setStatus(std::string("status"));
    render(900);
    EXPECT_TRUE(zones.empty());
}

TEST_F(BarLayoutTest, FrameChangesAreReportedOnceOnTheMainQueueWhileTheViewLives) {
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
    {
        BarView doomed(settings, &meter, clock);
        doomed.onFrameChanged = [&] { ++calls; };
        renderBar(doomed, {900, 36}, 2.0);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 2);
}

TEST_F(BarLayoutTest, ThemeChangesSetAccentsPerModuleAndEmptyTheTextCache) {
    render(900);
    EXPECT_GT(view.texts().imageCount(), 0u);
    settings.setAccentColor(Rgb{0.0, 1.0, 0.0}, ColorArea::scope);
    view.setTheme(BarTheme::liveDark());
    EXPECT_EQ(view.texts().imageCount(), 0u);
    EXPECT_EQ(view.areaThemes().at(ColorArea::scope).meterFill, (Colour{0.0, 1.0, 0.0, 1.0}));
    EXPECT_EQ(view.areaThemes().at(ColorArea::meter), BarTheme::liveDark());
    EXPECT_EQ(view.areaThemes().size(), 6u);
    render(900, 36, 2.0);
    render(900, 36, 1.0);  // a new scale: the old images went before drawing
    const std::size_t afterOneFrame = view.texts().imageCount();
    render(900, 36, 1.0);
    EXPECT_EQ(view.texts().imageCount(), afterOneFrame);
}

TEST_F(BarLayoutTest, TheDisplayLinkRedrawsOnlyWhileSomethingHappens) {
    // New audio keeps it going for 4 s, a message from Live for 1.5 s.
    std::optional<double> messageAge;
    view.transportLastMessage = [&] { return messageAge ? std::optional(clock.now() - *messageAge) : std::nullopt; };
    const std::tuple<double, std::uint64_t, std::optional<double>, bool> steps[] = {
        {0, 0, {}, false}, {0, 1, {}, true},   {3.9, 1, {}, true},   {0.2, 1, {}, false},
        {0, 2, {}, true},  {10, 2, {}, false}, {0, 2, 1.4, true}, {0, 2, 1.6, false}};
    for (const auto& [advance, blocks, age, redraws] : steps) {
        clock.advance(advance);
        meter.blocks = blocks;
        messageAge = age;
        EXPECT_EQ(view.step(), redraws) << clock.now();
    }
}

TEST_F(BarLayoutTest, TheStatusTextIsDrawnLeftOfTheMeter) {
    view.setStatus(std::string("This Mac's sound cannot be tapped yet. Trying again in 2 seconds."));
    const QImage image = render(1400);
    ASSERT_TRUE(layout.statusRect.has_value());
    const Rect text = *layout.statusRect;
    EXPECT_EQ(text.minX(), 10 + 4);
    EXPECT_LE(text.maxX(), layout.meterRect.minX());
    EXPECT_EQ(layout.meterRect.maxX(), 1400);
    EXPECT_TRUE(layout.trailingLines.empty());
    // Ink in the text's box, background between the text and the meter.
    const QColor background = pixelAt(image, text.maxX() + 5, 20);
    EXPECT_EQ(background.rgb(), view.barTheme().background.toQColor().rgb());
    EXPECT_GT(count(image, Rect{text.minX(), text.midY(), text.width, 0.5}, [&](QColor c) { return c != background; }),
              20);
}

TEST_F(BarLayoutTest, TheNotchPictureShowsTheRowOnBothSidesOfTheNotch) {
    view.setTheme(BarTheme::scope());
    view.setNotchGap(NotchGap{300, 400});
    const QImage image = render(1400);
    const QColor background = BarTheme::scope().background.toQColor();
    const auto ink = [&](QColor c) {
        return std::max({std::abs(c.red() - background.red()), std::abs(c.green() - background.green()),
                         std::abs(c.blue() - background.blue())}) > 2;
    };
    // The notch and the margins around it show only the background.
    EXPECT_EQ(count(image, Rect{294.5, 0.5, 111.5, 35}, ink), 0);
    // The meter, laid out at the right end of the shortened row (before the
    // add button's 34 points and the meter's gap), is drawn 112 points
    // further right, past the notch.
    const double shift = 100 + 12;
    EXPECT_NEAR(layout.meterRect.maxX() + shift, 1400 - 20 - 34 - 14, 1.0);
    EXPECT_GT(count(image, Rect{layout.meterRect.minX() + shift, 18, layout.meterRect.width, 0.5}, ink), 50);
}

}  // namespace
}  // namespace crestline
