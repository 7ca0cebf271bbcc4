// A transparent picture of vertical spans, one device-pixel column at a
// time, that the scope draws its traces and envelopes into and then shows
// with one image draw. Qt's antialiased path filler spends milliseconds on
// a trace of a few thousand points (it walks the outline band by band and
// hands tall fills to its thread pool); here a trace is one span per column
// and pen. The pens of a frame are collected as passes (glow and trace, per
// channel) and composed per column when the frame is finished, so each
// pixel is written once however many pens cover it: a frame costs about
// a couple of stores per pixel of the panel. Span ends are antialiased; a pen's width
// widens each column's span over its neighbours (a square pen,
// indistinguishable from a round one at the trace's width). The picture and
// the working storage are kept between frames. Main thread only.
#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <vector>

#include "bar/colour.h"

namespace crestline {

class TraceLayer {
public:
    // Passes per frame; more are ignored (the scope needs four: glow and
    // trace of two channels).
    static constexpr int kMaxPasses = 4;

    // Starts a frame of `columns` x `rows` device pixels, all clear, with
    // no passes.
    void begin(int columns, int rows);
    int columns() const { return columns_; }
    int rows() const { return rows_; }

    // Starts a pass drawn over the earlier ones, in one colour, or in a
    // colour per column. Returns its index, or −1 when there is no room.
    int addPass(const Colour& colour);
    int addColouredPass();
    // Covers column `column` of pass `pass` from `low` to `high`, in device
    // rows counted from the bottom; partly covered end rows get part of the
    // colour. A later call for the same column replaces the span.
    void span(int pass, int column, double low, double high);
    void span(int pass, int column, double low, double high, const Colour& colour);
    // Composes the passes into the picture.
    void finish();

    const QImage& image() const { return image_; }

private:
    struct Pass {
        std::uint32_t colour = 0;             // premultiplied ARGB
        bool perColumn = false;
        std::vector<float> low, high;         // per column; low ≥ high when empty
        std::vector<std::uint32_t> colours;   // per column, for a coloured pass
    };
    int startPass();
    // Writes the column's rows [nowLow_, nowHigh_) into the picture at
    // `out` (its top pixel), `stride` pixels a row.
    void composeColumn(int column, std::uint32_t* out, std::size_t stride);

    QImage image_;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<Pass> passes_;  // kMaxPasses, storage kept
    int passCount_ = 0;
    // Per column the rows [low, high) this frame composes, and those the
    // picture holds from the last frame: the picture is clear outside
    // them, so a frame writes only where a trace is or was, not the whole
    // panel.
    std::vector<int> nowLow_, nowHigh_, drawnLow_, drawnHigh_;
    // Colours of whole rows by the set of passes covering them, this frame;
    // only while no pass has a colour per column.
    bool uniform_ = true;
    std::array<std::uint32_t, 1u << kMaxPasses> composed_{};
    std::array<bool, 1u << kMaxPasses> known_{};
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

// Adds a pass that draws `ranges` with a pen `width` device pixels wide:
// each column's span grown by half the width up and down and joined with
// its neighbours within half the width.
void strokeColumns(TraceLayer& layer, const ColumnRanges& ranges, double width, const Colour& colour);

}  // namespace crestline
