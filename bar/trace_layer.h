// A transparent picture of vertical spans, one device-pixel column at a
// time, that the scope draws its traces and envelopes into and then shows
// with one image draw. Qt's antialiased path filler spends milliseconds on
// a trace of a few thousand points (it walks the outline band by band and
// hands tall fills to its thread pool); here a trace is at most one span
// per column and pen, so a frame costs what its pixels cost. Span ends are
// antialiased; a pen's width widens each column's span over its
// neighbours (a square pen, indistinguishable from a round one at the
// trace's width). The picture is kept between frames and only what the
// previous frame drew is cleared. Main thread only.
#pragma once

#include <QImage>
#include <cstdint>
#include <span>
#include <vector>

#include "bar/colour.h"

namespace crestline {

class TraceLayer {
public:
    // Starts a frame of `columns` x `rows` device pixels, all clear.
    void begin(int columns, int rows);
    int columns() const { return columns_; }
    int rows() const { return rows_; }

    // Blends `colour` over column `column` from `low` to `high`, in device
    // rows counted from the bottom; partly covered end rows get part of it.
    void span(int column, double low, double high, const Colour& colour);

    const QImage& image() const { return image_; }

private:
    QImage image_;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<int> dirtyLow_;   // image rows (top down) touched per column...
    std::vector<int> dirtyHigh_;  // ...since the last clear; low > high when none
};

// Per column the lowest and highest point a trace reaches, in device rows
// from the bottom; an empty column has low > high.
struct ColumnRanges {
    std::vector<float> low;
    std::vector<float> high;

    // `columns` empty columns, keeping the storage.
    void reset(int columns);
    int size() const { return static_cast<int>(low.size()); }
    bool empty(int column) const { return low[static_cast<std::size_t>(column)] > high[static_cast<std::size_t>(column)]; }
    void include(int column, float y);
    // Adds the straight line from (x0, y0) to (x1, y1), x in columns (column
    // c spans c…c+1), to every column it crosses.
    void addSegment(double x0, float y0, double x1, float y1);
};

// Draws `ranges` with a pen `width` device pixels wide: each column's span
// grown by half the width up and down and joined with its neighbours
// within half the width. `scratch` is working storage.
void strokeColumns(TraceLayer& layer, const ColumnRanges& ranges, double width, const Colour& colour,
                   ColumnRanges& scratch);

}  // namespace crestline
