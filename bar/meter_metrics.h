// The loudness meter's sizes: the fixed spacing of its readouts, the
// metrics of the stacked grid for one bar height, the measured widths of
// the readouts and the layout chosen for a frame. The meter display
// measures; the row layout reads the widths. Plain values.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
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

// One width per readout (eight at most) on a fixed array: the meter is
// measured every frame.
struct ReadoutWidths {
    std::array<double, 8> values{};
    std::size_t count = 0;

    void assign(std::size_t n, double v) {
        count = std::min(n, values.size());
        std::fill(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(count), v);
    }
    void push_back(double v) {
        if (count < values.size()) values[count++] = v;
    }
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    double& operator[](std::size_t i) { return values[i]; }
    double operator[](std::size_t i) const { return values[i]; }
    double back() const { return values[count - 1]; }
    const double* begin() const { return values.data(); }
    const double* end() const { return values.data() + count; }
};

struct MeterMetrics {
    ReadoutWidths labelWidths;
    ReadoutWidths fieldWidths;
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
