// The loudness meter's sizes: the fixed spacing of its readouts, the
// metrics of the stacked grid for one bar height, the measured widths of
// the readouts and the layout chosen for a frame. The meter display
// measures; the row layout reads the widths. Plain values.
#pragma once

#include <optional>
#include <vector>

#include "bar/live_font.h"
#include "bar/meter_readouts.h"

namespace crestline {

// Spacing of the readouts, in points.
inline constexpr double kMeterPadding = 12.0;      // inside the block, left and right
inline constexpr double kLabelGap = 5.0;           // between a label and its field
inline constexpr double kItemGap = 12.0;           // between readouts
inline constexpr double kMinimumFieldWidth = 46.0;
inline constexpr double kPeakFieldWidth = 64.0;
inline constexpr double kCompactBarWidth = 80.0;
inline constexpr double kFieldHeight = 15.0;

// Metrics of the stacked meter for one bar height.
struct StackedMeter {
    double height = 0.0;
    Font labelFont;
    Font valueFont;
    Font heroFont;
    Font tickFont;
    double fieldHeight = 0.0;
    double fieldWidth = 0.0;
    double rowGap = 0.0;
    double columnGap = 0.0;
};

struct MeterMetrics {
    std::vector<double> labelWidths;
    std::vector<double> fieldWidths;
    double contentWidth = 0.0;
    double totalWidth = 0.0;  // natural width of the meter block
};

// The meter layout chosen for one frame and the widths that go with it.
struct MeterChoice {
    MeterLayout layout = MeterLayout::inlineRow;
    std::optional<StackedMeter> stacked;  // only while the stacked grid is in effect
    double dashboardWidth = 0.0;
    double horizontalWidth = 0.0;
};

}  // namespace crestline
