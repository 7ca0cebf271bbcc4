// Graphs with one value per column (a filled level, lines through column
// centres) drawn straight into a premultiplied bitmap at device resolution,
// one vertical span per pixel column, then blitted in one piece. The
// painter's general path machinery rasterises such graphs scanline by
// scanline, which for a noisy line of two thousand vertices costs tens of
// milliseconds; a span per pixel column costs its rows.
//
// Use per frame: `begin` (keeps the bitmap while the rectangle and scale
// stay, clears only the rows the last picture used), the fills and lines,
// then `draw`, which blits only the rows painted. Main thread only; nothing
// is allocated once the size is stable.
#pragma once

#include <QImage>
#include <cstdint>
#include <span>
#include <vector>

#include "bar/canvas.h"
#include "bar/colour.h"
#include "bar/geometry.h"

namespace crestline {

class ColumnRaster {
public:
    // Prepares a bitmap covering `rect` (points) on whole device pixels at
    // `scale` pixels per point.
    void begin(const Rect& rect, double scale);

    // Pixel rows and columns of the bitmap; row 0 is the top.
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    // The points at the middle of a row, for colour tables by height.
    double rowY(int row) const;

    // Fills each pixel column from `bottom` up to the top of its graph
    // column: graph column k spans x from firstX + k × step on, `tops[k]`
    // in points (NaN: nothing). Row r takes `rowColours[r]` (premultiplied
    // ARGB); the pixels at the ends are covered in proportion. Paints the
    // first thing after `begin`: whole pixels replace what is there.
    void fillColumns(std::span<const double> tops, double firstX, double step, double bottom,
                     std::span<const std::uint32_t> rowColours);

    // A line `width` points wide through (firstX + k × step, ys[k]); a NaN
    // breaks it, and a lone point draws nothing.
    void strokeLine(std::span<const double> ys, double firstX, double step, const Colour& colour, double width);

    // Blits what was painted since `begin`.
    void draw(Canvas& canvas) const;

    const QImage& image() const { return image_; }

private:
    // Covers rows between `low` and `high` (points) of pixel column `column`.
    template <typename ColourOfRow>
    void span(int column, double low, double high, ColourOfRow colourOfRow);

    QImage image_;
    double scale_ = 2.0;
    double left_ = 0.0;  // points of the bitmap's left and top edges, on whole device pixels
    double top_ = 0.0;
    int paintedFrom_ = 0;  // rows painted since `begin`: [paintedFrom_, paintedTo_)
    int paintedTo_ = 0;
    std::vector<float> lows_;   // per pixel column, the span a line covers
    std::vector<float> highs_;
    std::vector<float> fillTops_;  // per pixel column, the fill's top edge in rows
};

}  // namespace crestline
