// The loudness history module: the meter's series over the chosen minutes
// as a filled level graph and lines, the target line with the stretches of
// integrated loudness over it, true-peak overs along the top, a strip for
// squashed dynamics along the foot, Live's bars and locators, a legend and,
// under the pointer, a read-out of the bar and the values at that moment.
//
// Each frame copies the newest N values of the five series (0.1 s each,
// N = span / 0.1, at most 6000) from the loudness meter under the meter's
// lock, one series at a time, into buffers sized once; while the module is
// frozen the stored copy is drawn. The field is split into one column per
// point, each summarising the values it covers.
//
// The level fill with the momentary line, and the integrated lines, are
// drawn per pixel column into two kept pictures (ColumnRaster) that are
// painted anew only when their columns change, at most ten times a second.
//
// Main thread only. Cost: the copy (at most 5 x 6000 floats), one pass
// over the values and the columns, the timeline marks, and two blits; a
// frame at stable sizes allocates nothing of its own.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/history_source.h"
#include "bar/column_raster.h"
#include "bar/module_display.h"
#include "bar/timeline_marks.h"

namespace crestline {

class HistoryDisplay final : public ModuleDisplay {
public:
    static constexpr double kSecondsPerValue = 0.1;  // one value per 100 ms hop of the meter
    static constexpr double kFloorLUFS = -36.0;      // the field's bottom; 0 LUFS is its top
    static constexpr double kPeakMarkAboveDBTP = -1.0;
    static constexpr double kSquashedBelowDB = 5.0;  // PSR under this marks the dynamics strip
    static constexpr double kOverTargetLU = 1.0;     // integrated this far over the target turns red
    static constexpr double kMarkHeight = 3.0;       // points: peak marks and the dynamics strip
    static constexpr double kLegendFromHeight = 40.0;

    // One column of the field, a point wide: of the values it covers the
    // loudest momentary and short-term, the last integrated, the highest
    // true peak and the lowest PSR, each over the finite values only
    // (−∞, or +∞ for `psr`, when there is none). Absent where the column
    // covers no value.
    struct Column {
        double x = 0.0;  // left edge, points
        double s = 0.0;
        double m = 0.0;
        double i = 0.0;
        double peak = 0.0;
        double psr = 0.0;
        bool present = false;
    };
    using Tracks = std::array<std::vector<float>, 5>;  // by HistorySource, oldest value first

    HistoryDisplay();

    ColorArea area() const override { return ColorArea::history; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;

    // The span in seconds for a "historyMinutes" value (one minute when it
    // is not positive) and the number of values it holds.
    static double spanSeconds(double minutes);
    static int valueCount(double spanSeconds);
    // y of a level in the field: −36 LUFS and below at the bottom, 0 and
    // above at the top.
    static double levelY(double lufs, const Rect& field);
    // The columns across `rect` for the newest `count` values of which the
    // meter had `available` (they sit at the right end of the span). The
    // tracks hold at least `available` values each.
    static void buildColumns(const Tracks& tracks, int count, int available, const Rect& rect,
                             std::vector<Column>& out);
    // The read-out's form of a value: "–" when not finite, "−∞" at −99 and
    // below, else one decimal with the minus sign U+2212. Appended to `out`.
    static void appendValueText(double value, std::string& out);
    // The legend: the span ("1 min", "30 s") and the names of the series
    // shown, joined by " · ".
    static std::string legend(double minutes, std::span<const HistorySource> shows, bool shortNames);

    // What the last frame drew, for tests.
    const std::vector<Column>& columns() const { return columns_; }
    const TimelineMarks& marks() const { return marks_; }
    const std::optional<Rect>& legendRect() const { return legendRect_; }
    const std::string& readout() const { return readout_; }
    const std::optional<Rect>& readoutPill() const { return readoutPill_; }  // where the read-out went

private:
    void copyTracks(const Frame& frame, int count);
    void drawLevelGraph(const Rect& field, const Frame& frame);
    // The y of each column's value that `pick` gives where it is finite,
    // above the floor and accepted by `keep`; NaN elsewhere (a gap).
    template <typename Pick, typename Keep>
    void columnYs(const Rect& field, Pick pick, Keep keep, std::vector<double>& out) const;
    // Fills the columns that `marked` accepts, neighbours joined into one rectangle.
    template <typename Marked>
    void fillMarks(Canvas& canvas, double y, Marked marked, const Colour& colour);
    void drawLegend(Canvas& canvas, const Rect& rect, const Frame& frame, std::span<const HistorySource> shows,
                    const Zones& zones);
    void drawReadout(Canvas& canvas, const Rect& rect, const Rect& field, const Frame& frame,
                     std::span<const HistorySource> shows, double span);

    Tracks tracks_;
    int copiedCount_ = 0;   // N of the stored copy
    int available_ = 0;     // values the meter had at the copy
    std::vector<Column> columns_;
    double columnWidth_ = 1.0;
    // What a picture shows, to paint it anew only when that changes.
    struct Shown {
        std::array<std::vector<double>, 2> ys;
        Rect field;
        double scale = 0.0;
        Colour colour;
        bool valid = false;
        // Remembers the new state; false when it equals the old one.
        bool changed(const std::array<std::vector<double>, 2>& newYs, const Rect& newField, double newScale,
                     const Colour& newColour);
    };
    ColumnRaster graph_;  // the level fill and the momentary line
    ColumnRaster lines_;  // the integrated line and its stretches over the target
    std::array<std::vector<double>, 2> graphYs_;  // per column: the fill's top, the momentary line (NaN: none)
    std::array<std::vector<double>, 2> lineYs_;   // per column: integrated, integrated over the target
    Shown graphShown_;
    Shown linesShown_;
    std::vector<std::uint32_t> rowColours_;  // the level gradient per pixel row of `graph_`
    Colour rowColoursFor_;
    Rect rowColoursField_;
    TimelineMarks marks_;

    // The legend is rebuilt only when what it says changes.
    double legendMinutes_ = -1.0;
    std::vector<HistorySource> legendShows_;
    std::string legendLong_;
    std::string legendShort_;
    std::optional<Rect> legendRect_;
    std::string readout_;
    std::optional<Rect> readoutPill_;
};

}  // namespace crestline
