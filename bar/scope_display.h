// The oscilloscope module: a triggered scope for short windows (10 to
// 250 ms), a scrolling overview of the chunk summaries for long ones (1 to
// 30 s) and a view synced to Live's beats (one beat to sixteen bars) that
// holds one musical cycle still with a line for now, read from the scope
// buffer and, for the synced view, Live's transport and set. Without a
// usable beat clock the beat windows fall back to the 40 ms triggered scope
// with a note that they wait for Live.
//
// Main thread only. The buffer is read through its own locked copies and
// the transport under its lock; the copies, the smoothing anchors and the
// trace picture live here from frame to frame and only grow when a longer
// window is chosen, so a frame at unchanged sizes allocates nothing. Traces
// and envelopes are drawn as one span per device-pixel column (TraceLayer),
// so a frame costs about what its pixels cost whatever the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bar/module_display.h"
#include "bar/scope_math.h"
#include "bar/timeline_marks.h"
#include "bar/trace_layer.h"

namespace crestline {

class ScopeDisplay final : public ModuleDisplay {
public:
    // Where the synced view stood at its last drawn frame.
    struct SyncView {
        bool valid = false;            // a synced frame has been drawn since the clock was lost
        ScopeWindow window = ScopeWindow::beat1;
        double phase = 0.0;            // of now within the cycle, 0…1
        double cycleBeats = 0.0;
        double beatsPerBar = 4.0;
        double beatNow = 0.0;          // smoothed beat at the newest copied frame
        int length = 0;                // frames (sample path) or chunks (block path) in the copy
        bool usesBlocks = false;
        std::uint64_t total = 0;       // frames or chunks written when copied: how many are real
    };

    ColorArea area() const override { return ColorArea::scope; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;

    // What the last frame found, for tests.
    const SyncView& syncView() const { return sync_; }
    const scope::BeatSmoother& smoother() const { return smoother_; }
    scope::TriggerPoint trigger() const { return trigger_; }
    int triggeredFrames() const { return frames_; }  // N of the triggered window
    int overviewCount() const { return overviewCount_; }
    const std::string& note() const { return note_; }  // the note drawn, empty when none

private:
    // The rectangle snapped out to whole device pixels, where the trace
    // picture goes; x and y convert points to its columns and rows.
    struct PixelBox {
        double left = 0.0, bottom = 0.0;  // device pixels
        int columns = 0, rows = 0;
        double scale = 2.0;
        double x(double points) const { return points * scale - left; }
        double y(double points) const { return points * scale - bottom; }
        Rect rect() const { return {left / scale, bottom / scale, columns / scale, rows / scale}; }
    };

    void drawTriggered(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones, double milliseconds,
                       std::string_view note);
    void drawOverview(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones, ScopeWindow window);
    bool drawSynced(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones, ScopeWindow window);
    bool takeSyncedCycle(const Frame& frame, ScopeWindow window);
    void drawSyncedSamples(const Rect& rect, const Frame& frame, ScopeMode mode);
    void drawSyncMarks(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones);

    // Copies the newest `count` frames into the sample arrays, the newest
    // last; frames the ring does not hold read as silence.
    std::uint64_t copyNewest(const Frame& frame, int count, bool trigger);
    PixelBox beginTraces(const Rect& rect, double scale);
    // Strokes `ranges_` with the glow (when the theme has one) and the trace.
    void strokeTrace(const PixelBox& box, const Frame& frame, bool right);
    void showTraces(Canvas& canvas, const PixelBox& box);
    // The filled envelope (or the frequency colouring) of the chunk copy,
    // one column per entry of `columnFirst_`/`columnEnd_`; `breakColumn` is
    // left empty and nothing is smoothed across it.
    void drawLongView(Canvas& canvas, const Rect& rect, const Frame& frame, int firstReal, int breakColumn,
                      ScopeMode mode, bool byFrequency);
    void drawAxis(Canvas& canvas, const Rect& rect, const Frame& frame);
    void drawNote(Canvas& canvas, const Rect& rect, Zones& zones, std::size_t ownNamesFrom, ScopeMode mode,
                  std::string_view note);

    std::vector<float> samplesL_, samplesR_, samplesT_;
    std::vector<float> overviewBlocks_;
    int overviewCount_ = 0;      // chunks in the overview copy; −1 when it holds a synced cycle
    std::uint64_t overviewTotal_ = 0;
    scope::TriggerPoint trigger_;
    int frames_ = 0;

    SyncView sync_;
    scope::BeatSmoother smoother_;

    TraceLayer layer_;
    ColumnRanges ranges_;
    std::vector<int> columnFirst_, columnEnd_;       // chunks per long-view column, end exclusive
    std::vector<float> envelope_, widened_, smoothed_;
    std::vector<float> bandLow_, bandMid_, bandHigh_;
    std::vector<double> divisions_;
    std::vector<scope::SyncMark> barMarks_, locatorMarks_;
    std::vector<LiveSet::Locator> locators_;
    std::string note_, label_;
    TimelineMarks timeline_;
};

}  // namespace crestline
