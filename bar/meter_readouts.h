// The loudness meter's content, apart from drawing: the readouts built from
// one reading, their number formats, the choice of layout by bar height,
// the grid columns of the stacked layout, and the sample-peak bars with
// their hold and clip state. Plain values and functions; the bar view calls
// them once per frame on the main thread.
#pragma once

#include <array>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "analysis/loudness_reading.h"
#include "bar/colour.h"
#include "bar/hint.h"

namespace crestline {

// What a click on a readout or zone resets.
struct ResetTarget {
    enum class Kind { windowStep, shortTerm, integrated, truePeak, peakHold, history, graphView, historyView };
    Kind kind = Kind::shortTerm;
    int step = 0;  // only for windowStep

    static ResetTarget of(Kind kind) { return {kind, 0}; }
    static ResetTarget windowStep(int step) { return {Kind::windowStep, step}; }
    bool operator==(const ResetTarget&) const = default;
};

struct Readout {
    std::string label;
    std::string text;
    bool warn = false;
    std::optional<ResetTarget> target;
    Hint hint = Hint::loudness;
    bool hero = false;                // the integrated group
    std::optional<Colour> status;     // mark under the value field
    bool isPeakMeter = false;         // drawn as two peak bars, not as text
};

// Which parts of the meter are shown (the "meterPart." settings).
struct MeterParts {
    bool momentary = true;
    bool shortTerm = true;
    bool integrated = true;
    bool loudnessRange = true;
    bool psr = true;
    bool truePeak = true;
    bool peak = true;
};

// "%.1f" with the minus sign U+2212; "−∞" for a level of −99 or below or
// one that is not finite.
std::string formatLevel(double value);
// "%.1f" with U+2212; "–" (U+2013) when not finite.
std::string formatAmount(double value);
// "%+.1f" with U+2212; "–" when not finite.
std::string formatDifference(double value);
// A target in LUFS as the meter names it: −14, −16.5.
std::string formatTarget(double target);

// The dashboards' target line, longest form first: the horizontal
// dashboard draws the first that fits its column (else the last), the
// dashboard meter the first (`shortForms` false gives only the long form of
// a miss).
std::vector<std::string> targetLineTexts(double integrated, double target, bool shortForms);
// The same into strings the caller keeps between frames (their storage is
// reused): how many of `out` hold a form.
std::size_t targetLineTexts(double integrated, double target, bool shortForms, std::array<std::string, 3>& out);

// Colours the readouts take from the theme.
struct ReadoutColours {
    Colour meterFill;
    Colour warn;
};

std::vector<Readout> readouts(const LoudnessReading& reading, const MeterParts& parts,
                              std::optional<double> targetLUFS, bool peakClipped, const ReadoutColours& colours);
// The same into a list the caller keeps between frames.
void readouts(const LoudnessReading& reading, const MeterParts& parts, std::optional<double> targetLUFS,
              bool peakClipped, const ReadoutColours& colours, std::vector<Readout>& items);

// The stacked layout's four columns by hint (momentary and short-term;
// integrated and vs target; LRA and PSR; the peaks), empty ones dropped;
// indices into `items`.
struct GridColumns {
    struct Column {
        std::array<int, 8> items{};
        std::size_t count = 0;
        const int* begin() const { return items.data(); }
        const int* end() const { return items.data() + count; }
        std::size_t size() const { return count; }
        int front() const { return items[0]; }
        int operator[](std::size_t i) const { return items[i]; }
        std::vector<int> vector() const { return {begin(), end()}; }
    };
    std::array<Column, 4> columns{};
    std::size_t count = 0;
    const Column* begin() const { return columns.data(); }
    const Column* end() const { return columns.data() + count; }
    std::size_t size() const { return count; }
    std::vector<std::vector<int>> vectors() const;
};
GridColumns gridColumns(const std::vector<Readout>& items);

enum class MeterLayout { inlineRow, stacked, horizontalDashboard, dashboard };

inline constexpr double kStackedFromHeight = 50.0;
inline constexpr double kHorizontalFromHeight = 110.0;
inline constexpr double kDashboardFromHeight = 360.0;

// The layout for a content height, before the stacked metric is consulted:
// only the inline row fits beside a display notch.
MeterLayout meterLayoutFor(double height, bool notchGap);
// Width of the dashboard meter for a height and the room the row leaves.
double dashboardWidthFor(double height, double roomWidth);

// Sample-peak bars: the shown level falls 24 dB/s, the hold mark stays
// 1.5 s then follows the bar down, and a level of −0.05 dBFS or more marks
// the meter clipped until reset. Levels in dBFS, times in media seconds.
struct PeakHold {
    static constexpr double kFallPerSecond = 24.0;
    static constexpr double kHoldSeconds = 1.5;
    static constexpr double kMaximumStep = 0.25;
    static constexpr double kClipLevel = -0.05;

    std::array<double, 2> shown{-kInfinity, -kInfinity};
    std::array<double, 2> hold{-kInfinity, -kInfinity};
    std::array<double, 2> holdUntil{0.0, 0.0};
    std::optional<double> time;  // of the last update
    bool clipped = false;        // one flag for both channels

    // One frame: the peaks taken since the previous frame.
    void update(double now, double left, double right);
    // The reset click: holds and the clip mark go, the bars keep falling.
    void reset();

    static constexpr double kInfinity = std::numeric_limits<double>::infinity();
};

}  // namespace crestline
