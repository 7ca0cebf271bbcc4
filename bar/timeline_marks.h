// Live's bars and locators along a time axis: bar lines with their numbers
// and locator lines with their names, over a span of seconds that ends at a
// given media time, placed from the transport samples of Live's sync and
// the open set's signatures and locators. The history draws them under its
// graph; the scope's overview and the spectrogram draw them over theirs.
//
// Use: each display owns one TimelineMarks (its sample arrays and mark
// lists are kept between frames, so a frame allocates nothing once they
// have grown) and calls `draw` with its rectangle, the span it shows and
// the moment at its right edge (the frozen moment while frozen).
// `barNumber` answers the pointer's read-out.
//
// The transport is not trusted: a run of samples breaks where the beat
// jumps or stands still, and however many bars or locators the beats
// claim, no two lines come closer than kMinimumLineGap points, so a frame
// draws at most about width / 3 of them.
//
// Main thread only. The sync is read under its own lock (one hold for the
// helper's state, one for the samples); nothing else is locked.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "bar/canvas.h"
#include "bar/geometry.h"
#include "live/live_set.h"

namespace crestline {

struct Frame;

class TimelineMarks {
public:
    static constexpr double kLabelSpacing = 46.0;     // points: least distance between bar numbers
    static constexpr double kMinimumLineGap = 3.0;    // points: least distance between two lines of a kind
    static constexpr double kNameRowHeight = 11.0;    // points: a locator name that would collide drops a row
    static constexpr double kNameGap = 6.0;           // points kept free after a name on its row
    static constexpr double kClosestSampleSeconds = 0.6;  // a bar number from a sample this near, at most

    struct BarLine {
        double x = 0.0;  // points
        double bar = 0.0;  // 1-based bar number
        bool numbered = false;
    };

    // Marks for the `seconds` ending at `now` (media seconds) across
    // `rect`, only while timeline marks are on and a transport exists. The
    // rectangles of the names drawn are appended to `nameRects`.
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, double seconds, double now,
              std::vector<Rect>& nameRects);

    // What the last `draw` placed: bar lines left to right, and locator
    // lines (x in points).
    const std::vector<BarLine>& barLines() const { return barLines_; }
    const std::vector<double>& locatorLines() const { return locatorLines_; }

    // The bar (1-based) at media time `at`: the beat interpolated between
    // the two samples around it when they belong to one run, else the beat
    // of the sample closest to it within 0.6 s; nothing without one.
    static std::optional<int> barNumber(const Frame& frame, double at);

    // Every how many bars a line is drawn when a bar is `pointsPerBar`
    // wide: the first of 1, 2, 4 ... 128 that puts lines 46 points apart or
    // more, else 256.
    static int barStride(double pointsPerBar);

    // Whether the sample (t1, b1) continues the run of the earlier sample
    // (t0, b0): the beat moved forward, no faster than 5 beats a second
    // plus half a beat, and time did not run on far ahead of the beat (a
    // stop or a dropout in between).
    static bool continues(double t0, double b0, double t1, double b1);

private:
    // What the transport and the set say about bars at this frame.
    struct Grid {
        const LiveSet* set = nullptr;  // signatures, when a set is open
        double beatsPerBar = 4.0;      // without a set: the helper's when fresh, else 4
        double bar(double beat) const;
        double perBar(double beat) const;
    };

    void collect(const Frame& frame, double since, double until);
    void placeBars(const Rect& rect, const Grid& grid, double seconds, double now);
    void drawBars(Canvas& canvas, const Rect& rect);
    void drawLocators(Canvas& canvas, const Rect& rect, const std::vector<LiveSet::Locator>& locators, double seconds,
                      double now, std::vector<Rect>& nameRects);

    std::vector<double> markTimes_;  // transport samples over the span: media seconds...
    std::vector<double> markBeats_;  // ...and Live's beats
    std::vector<LiveSet::Locator> helperLocators_;  // the helper's, copied under the sync's lock
    std::vector<BarLine> barLines_;
    std::vector<double> locatorLines_;
    std::array<double, 8> rowEnds_{};  // right end of the last name on each row
};

}  // namespace crestline
