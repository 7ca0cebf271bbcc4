// The row's geometry on its own: no application, no painting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "bar/row_layout.h"
#include "platform/clock.h"
#include "settings/settings.h"

namespace crestline {
namespace {

class RowLayoutTest : public ::testing::Test {
protected:
    RowInputs inputs(double width, double height = 36.0) const {
        return RowInputs{.settings = settings,
                         .bounds = {width, height},
                         .topInset = 0.0,
                         .notchGap = std::nullopt,
                         .status = false,
                         .draggable = false,
                         .hasTitleBar = false,
                         .panels = false,
                         .meter = {},
                         .meterNaturalWidth = 400.0,  // an inline meter of seven readouts
                         .meterColumns = 7,
                         .scrollOffset = 0.0};
    }
    std::vector<ColorArea> areas(const RowLayout& row) const {
        std::vector<ColorArea> out;
        for (const PlacedModule& m : row.modules) out.push_back(m.area);
        return out;
    }

    FakeClock clock;
    Settings settings{std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) /
                          (::testing::UnitTest::GetInstance()->current_test_info()->name() + std::string(".json")),
                      clock, Settings::Writing::manual};
};

TEST_F(RowLayoutTest, ModulesFollowTheOrderEdgeToEdgeWithTheirDividers) {
    settings.setModuleOrder({ColorArea::scope, ColorArea::meter, ColorArea::history});
    settings.setMeterSpread(5);
    const RowLayout row = layoutRow(inputs(1000));
    ASSERT_EQ(areas(row), (std::vector{ColorArea::scope, ColorArea::meter, ColorArea::history}));
    // 1000 less the margin 10, the meter's 400 + its gap of 14 + 6 gaps of
    // 5 and the 34 of chrome, shared evenly.
    const double graph = (1000 - 10 - 444 - 34) / 2.0;
    EXPECT_EQ(row.modules[0].rect, (Rect{10, 0, graph - 14, 36}));
    EXPECT_EQ(row.modules[1].rect, (Rect{10 + graph, 0, 430, 36}));  // the readouts keep their padding
    EXPECT_EQ(row.modules[2].rect.minX(), 10 + graph + 444);
    EXPECT_EQ(row.meterRect, row.modules[1].rect);
    EXPECT_EQ(row.meterSpreadNow, 5);
    EXPECT_EQ(row.plusRect->minX(), 10 + 2 * graph + 444);
    // Without panels a module's shape is its rectangle; each divider sits in the gap after it.
    EXPECT_EQ(row.areaShapes.at(ColorArea::history), row.modules[2].rect);
    ASSERT_EQ(row.trailingLines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(row.trailingLines[i].left, static_cast<int>(i));
        EXPECT_EQ(row.trailingLines[i].rect.midX(), row.modules[i].rect.maxX() + 7);
    }
    EXPECT_EQ(row.trailingLines[1].spreadGaps, 6);
    EXPECT_FALSE(row.rowWidths.count(ColorArea::meter));  // its width is natural, not the user's
}

TEST_F(RowLayoutTest, PanelsInsetTheShapesAndTheAddButtonUnderATitleBar) {
    RowInputs in = inputs(1200, 60);
    in.panels = true;
    in.hasTitleBar = true;
    const RowLayout row = layoutRow(in);
    EXPECT_EQ(row.margin, 9);
    EXPECT_EQ(row.gap, 8);
    EXPECT_EQ(row.groundY, 8);  // floor((60 - 15 - 4 - 1) / 2) = 20, capped at 8
    const PlacedModule& scope = row.modules.front();
    EXPECT_TRUE(scope.panel);
    EXPECT_EQ(scope.shape, (Rect{9, 9, scope.rect.width, 60 - 16 - 1}));
    EXPECT_EQ(row.plusRect->height, 60 - 16 - 1);
    EXPECT_EQ(row.plusRect->width, 34 - 8 - 1);
    // Too low for a panel (a window owner took most of the height): the
    // shape is the rectangle.
    in.topInset = 50;
    EXPECT_FALSE(layoutRow(in).modules.front().panel);
    // Beside a notch the inset is at most 4.
    in.topInset = 0;
    in.notchGap = NotchGap{600, 700};
    EXPECT_EQ(layoutRow(in).groundY, 4);
}

TEST_F(RowLayoutTest, AStatusKeepsOnlyTheMeterAtTheRightEndOrPastANotch) {
    RowInputs in = inputs(1400);
    in.status = true;
    RowLayout row = layoutRow(in);
    EXPECT_EQ(areas(row), std::vector{ColorArea::meter});
    EXPECT_EQ(row.meterRect, (Rect{1000, 0, 400, 36}));
    EXPECT_TRUE(row.trailingLines.empty());
    EXPECT_FALSE(row.plusRect.has_value());
    // Beside a notch only 20 points are reserved, and a meter that would
    // sit under the notch moves past it.
    in.notchGap = NotchGap{1100, 1200};
    row = layoutRow(in);
    EXPECT_EQ(row.content.width, 1380);
    EXPECT_EQ(row.meterRect, (Rect{1206, 0, 1400 - 20 - 1206, 36}));
    in.status = false;
    EXPECT_EQ(layoutRow(in).content.width, 1400 - 132);
}

TEST_F(RowLayoutTest, TheScrollOffsetIsKeptWithinTheNewRange) {
    settings.setModuleWidth(ColorArea::history, 2000);
    RowInputs in = inputs(900);
    in.scrollOffset = 1e9;
    const RowLayout row = layoutRow(in);
    EXPECT_EQ(row.rowWidths.at(ColorArea::history), 890);  // limited to the row
    EXPECT_EQ(row.scrollOffset, row.scrollRange);
    EXPECT_EQ(row.modules.front().rect.minX(), 10 - row.scrollRange);
    in.scrollOffset = -5;
    EXPECT_EQ(layoutRow(in).scrollOffset, 0);
}

}  // namespace
}  // namespace crestline
