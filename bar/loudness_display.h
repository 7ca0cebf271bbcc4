// The meter module: the loudness readouts and level bars in one of four
// layouts chosen by the bar's height (an inline row, a stacked grid, a
// horizontal dashboard, a tall dashboard), the sample-peak bars with their
// hold and clip state, and the reset and hint zones of every readout.
//
// Each frame the view first hands it the peaks taken since the last frame,
// then has it build and measure the readouts (`prepare`) so the row can be
// laid out around the meter's natural width, then draws it into the meter's
// rectangle. Main thread only. Text through the bar's text cache; stacked
// metrics cached by height, level gradients by colour.
#pragma once

#include <QImage>
#include <array>
#include <optional>
#include <vector>

#include "analysis/loudness_reading.h"
#include "analysis/peak_meter.h"
#include "bar/meter_metrics.h"
#include "bar/meter_readouts.h"
#include "bar/module_display.h"

namespace crestline {

class Settings;
class TextCache;

class LoudnessDisplay final : public ModuleDisplay {
public:
    // What the meter shows and how wide it is for one frame.
    struct Measure {
        MeterChoice choice;
        MeterMetrics metrics;
        int columns = 0;  // columns the spread goes between: grid columns when stacked, else readouts
    };

    ColorArea area() const override { return ColorArea::meter; }

    // The sample peaks since the previous frame (dBFS), at media time `now`;
    // skipped while the meter is frozen.
    void updatePeaks(PeakLevels levels, double now) { peaks_.update(now, levels.left, levels.right); }
    const PeakHold& peaks() const { return peaks_; }
    void resetPeaks() { peaks_.reset(); }

    // Builds the readouts of `reading` and chooses and measures the layout
    // for a content `height`; `roomWidth` bounds the tall dashboard. Kept
    // for `draw`.
    const Measure& prepare(const LoudnessReading& reading, const Settings& settings, const BarTheme& theme,
                           double height, double roomWidth, bool notch, TextCache& texts);
    // The same without keeping anything: for the minimum width.
    Measure measure(const LoudnessReading& reading, const Settings& settings, const BarTheme& theme, double height,
                    double roomWidth, bool notch, TextCache& texts);
    const Measure& prepared() const { return prepared_; }
    const std::vector<Readout>& items() const { return items_; }

    // The extra gap between columns the row gave the meter.
    void setSpread(double spread) { spread_ = spread; }

    // Draws what `prepare` measured, into the meter's rectangle (or panel).
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;

private:
    std::vector<Readout> buildReadouts(const LoudnessReading& reading, const Settings& settings,
                                       const BarTheme& theme) const;
    MeterChoice chooseLayout(double height, double roomWidth, bool notch, const std::vector<Readout>& items,
                             TextCache& texts);
    MeterMetrics metricsFor(const std::vector<Readout>& items, const MeterChoice& choice, TextCache& texts);
    std::optional<StackedMeter> stackedMeter(double height, TextCache& texts);
    MeterMetrics stackedMetrics(const std::vector<Readout>& items, const StackedMeter& stacked, TextCache& texts);

    void drawInlineMeter(const Rect& rect, const Frame& frame, Canvas& canvas, Zones& zones);
    void drawStackedMeter(const Rect& rect, const StackedMeter& stacked, const Frame& frame, Canvas& canvas,
                          Zones& zones);
    void drawHorizontalDashboard(const Rect& rect, const Frame& frame, Canvas& canvas, Zones& zones);
    void drawDashboardMeter(const Rect& rect, const Frame& frame, Canvas& canvas, Zones& zones);
    void drawValueField(std::string_view text, double x, double fieldWidth, double midY, bool warn, const Font& font,
                        double height, const std::optional<Colour>& status, const Frame& frame, Canvas& canvas);
    void drawPeakField(double x, double width, double midY, double height, const Frame& frame, Canvas& canvas);
    void drawMakerMark(Point at, double height, const Frame& frame, Canvas& canvas);
    static double makerMarkWidth(double height, Canvas& canvas);

    PeakHold peaks_;
    std::vector<Readout> items_;
    std::array<std::string, 3> targetTexts_;  // the dashboards' target line forms, kept for their storage
    Measure prepared_;
    double spread_ = 0.0;
    std::optional<StackedMeter> stackedCache_;
    // The wordmark as pictures by (height, colour, scale): its many
    // antialiased edges are costly to fill every frame.
    struct MarkPicture {
        double height;
        Colour colour;
        double scale;
        QImage image;
    };
    std::vector<MarkPicture> markPictures_;
};

}  // namespace crestline
