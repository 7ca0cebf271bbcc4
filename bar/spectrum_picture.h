// The spectrum's field painted at device resolution: the track, the held
// area, the curve filled in one colour per column and the held outline,
// all in one picture that the display blits 1:1 under its grids.
//
// Why not paths: the curve has one vertex per device pixel and, over noise,
// turns at every one of them. Qt's rasteriser takes tens of milliseconds
// to fill or stroke such a polygon at 3840 x 300 pixels; this painter knows
// that the curve is a function of x and antialiases each column by the area
// under its edge, in about a pass over the pixels.
//
// A column's edge runs straight from its height to the next column's, so
// the picture matches the polygon through the column heights. Heights are
// in device rows above the picture's bottom. The held outline is a band
// `outlineWidth` rows thick around the held edge, which is what a stroke of
// that width looks like on a curve this dense.
//
// One thread at a time. The image and the working rows are kept between
// paints, so a paint at unchanged sizes allocates nothing.
#pragma once

#include <QImage>
#include <cstdint>
#include <span>
#include <vector>

#include "bar/colour.h"

namespace crestline {

class SpectrumPicture {
public:
    struct Colours {
        Colour track;    // the field under everything
        Colour held;     // the held area, usually translucent
        Colour outline;  // the held outline
    };

    // Paints `width` x `height` pixels. `curve` and `colours` have one
    // entry per column (extra columns repeat the last one, missing ones are
    // empty); `held` is empty, or one height per column for the held area
    // and its outline.
    void paint(int width, int height, std::span<const float> curve, std::span<const std::uint32_t> colours,
               std::span<const float> held, double outlineWidth, const Colours& colours3);

    // Row 0 at the top, premultiplied; opaque (RGB32) when the track is.
    const QImage& image() const { return image_; }

    // The part of the row [row, row + 1] of a column that lies under an
    // edge running straight from height `a` at its left to `b` at its right.
    static float areaUnder(float a, float b, float row);

private:
    struct Premultiplied {
        float r = 0, g = 0, b = 0, a = 0;
    };
    static Premultiplied premultiplied(const Colour& c);
    static Premultiplied unpack(std::uint32_t pixel);
    static std::uint32_t pack(const Premultiplied& p);

    QImage image_;
    std::vector<float> curveAt_, heldAt_;         // heights per column, padded to the width
    std::vector<std::uint32_t> colourAt_;
    std::vector<int> solidCurve_, solidHeld_;     // rows wholly under each edge
};

}  // namespace crestline
