#include "bar/spectrum_picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace crestline {

namespace {

// ∫ clamp(t, 0, 1) dt from 0 to u.
float rising(float u) {
    if (u <= 0.0f) return 0.0f;
    if (u < 1.0f) return 0.5f * u * u;
    return u - 0.5f;
}

float overlap(float row, float lo, float hi) {
    return std::clamp(std::min(row + 1.0f, hi) - std::max(row, lo), 0.0f, 1.0f);
}

int rowsBelow(float height) { return static_cast<int>(std::floor(height)); }

inline float area(float a, float b, float row) {
    const float d = b - a;
    if (std::fabs(d) < 1e-3f) return std::clamp(0.5f * (a + b) - row, 0.0f, 1.0f);
    // The edge's height above the row runs linearly across the column; the
    // covered part is the mean of that height clamped to 0...1.
    return std::clamp((rising(b - row) - rising(a - row)) / d, 0.0f, 1.0f);
}

// `from` and `to` (premultiplied ARGB) mixed with `to` taking cover/256.
std::uint32_t mix(std::uint32_t from, std::uint32_t to, std::uint32_t cover) {
    const std::uint32_t keep = 256 - cover;
    const std::uint32_t redBlue = (((from & 0xFF00FFu) * keep + (to & 0xFF00FFu) * cover) >> 8) & 0xFF00FFu;
    const std::uint32_t alphaGreen = (((from >> 8) & 0xFF00FFu) * keep + ((to >> 8) & 0xFF00FFu) * cover) & 0xFF00FF00u;
    return redBlue | alphaGreen;
}

// Four pixels at a time for the whole-pixel pass (GCC's vector types: SSE
// on every x86-64, plain code elsewhere).
using Int4 = int __attribute__((vector_size(16)));
using Pixel4 = unsigned __attribute__((vector_size(16)));

template <typename V, typename T>
V load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

float SpectrumPicture::areaUnder(float a, float b, float row) { return area(a, b, row); }

SpectrumPicture::Premultiplied SpectrumPicture::premultiplied(const Colour& c) {
    if (!c.isValid()) return {};
    const auto a = static_cast<float>(c.alpha);
    return {static_cast<float>(c.red) * a, static_cast<float>(c.green) * a, static_cast<float>(c.blue) * a, a};
}

SpectrumPicture::Premultiplied SpectrumPicture::unpack(std::uint32_t pixel) {
    const auto byte = [pixel](int shift) { return static_cast<float>((pixel >> shift) & 0xFFu) / 255.0f; };
    return {byte(16), byte(8), byte(0), 1.0f};
}

std::uint32_t SpectrumPicture::pack(const Premultiplied& p) {
    const auto byte = [](float v) { return static_cast<std::uint32_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
    return byte(p.a) << 24 | byte(p.r) << 16 | byte(p.g) << 8 | byte(p.b);
}

void SpectrumPicture::paint(int width, int height, std::span<const float> curve, std::span<const std::uint32_t> colours,
                            std::span<const float> held, double outlineWidth, const Colours& colours3) {
    if (width < 1 || height < 1) {
        image_ = QImage();
        return;
    }
    const Premultiplied track = premultiplied(colours3.track);
    const QImage::Format format = track.a >= 0.999f ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
    if (image_.width() != width || image_.height() != height || image_.format() != format) {
        image_ = QImage(width, height, format);
    }
    if (image_.isNull()) return;

    const auto columns = static_cast<std::size_t>(width);
    const auto top = static_cast<float>(height);
    const auto heights = [&](std::span<const float> from, std::vector<float>& to) {
        to.resize(columns + 1);
        for (std::size_t j = 0; j <= columns; ++j) {
            const float v = from.empty() ? 0.0f : from[std::min(j, from.size() - 1)];
            to[j] = std::isfinite(v) ? std::clamp(v, 0.0f, top) : 0.0f;
        }
    };
    const bool holding = !held.empty();
    heights(curve, curveAt_);
    heights(holding ? held : std::span<const float>(), heldAt_);
    colourAt_.resize(columns);
    solidCurve_.resize(columns);
    solidHeld_.resize(columns);
    int highestSolid = 0;
    for (std::size_t j = 0; j < columns; ++j) {
        colourAt_[j] = colours.empty() ? pack(track) : (colours[std::min(j, colours.size() - 1)] | 0xFF000000u);
        solidCurve_[j] = rowsBelow(std::min(curveAt_[j], curveAt_[j + 1]));
        solidHeld_[j] = holding ? rowsBelow(std::min(heldAt_[j], heldAt_[j + 1])) : 0;
        highestSolid = std::max({highestSolid, solidCurve_[j], solidHeld_[j]});
    }

    const Premultiplied heldColour = premultiplied(colours3.held);
    const Premultiplied outline = premultiplied(colours3.outline);
    const auto over = [](const Premultiplied& src, float cover, const Premultiplied& dst) {
        const float keep = 1.0f - src.a * cover;
        return Premultiplied{src.r * cover + dst.r * keep, src.g * cover + dst.g * keep, src.b * cover + dst.b * keep,
                             src.a * cover + dst.a * keep};
    };
    const std::uint32_t trackPixel = pack(track);
    const std::uint32_t heldPixel = pack(over(heldColour, 1.0f, track));

    uchar* bits = image_.bits();
    const auto stride = static_cast<std::size_t>(image_.bytesPerLine());
    const auto line = [&](int row) {  // rows count from the bottom
        return reinterpret_cast<std::uint32_t*>(bits + stride * static_cast<std::size_t>(height - 1 - row));
    };

    // Whole pixels: under the curve, under the held edge only, or track.
    for (int row = 0; row < height; ++row) {
        std::uint32_t* out = line(row);
        if (row >= highestSolid) {
            std::fill_n(out, columns, trackPixel);
            continue;
        }
        const Int4 at{row, row, row, row};
        const Pixel4 held4{heldPixel, heldPixel, heldPixel, heldPixel};
        const Pixel4 track4{trackPixel, trackPixel, trackPixel, trackPixel};
        std::size_t j = 0;
        for (; j + 4 <= columns; j += 4) {
            const Pixel4 under = load<Pixel4>(colourAt_.data() + j);
            const Pixel4 base = at < load<Int4>(solidHeld_.data() + j) ? held4 : track4;
            const Pixel4 pixels = at < load<Int4>(solidCurve_.data() + j) ? under : base;
            std::memcpy(out + j, &pixels, sizeof pixels);
        }
        for (; j < columns; ++j) {
            out[j] = row < solidCurve_[j] ? colourAt_[j] : row < solidHeld_[j] ? heldPixel : trackPixel;
        }
    }

    // Then the pixels the edges and the outline cross, each from scratch.
    const float half = static_cast<float>(std::max(outlineWidth, 0.0)) * 0.5f;
    for (std::size_t j = 0; j < columns; ++j) {
        const float a = curveAt_[j], b = curveAt_[j + 1];
        const float ha = heldAt_[j], hb = heldAt_[j + 1];
        const float lineLo = std::min(ha, hb) - half, lineHi = std::max(ha, hb) + half;
        if (!holding) {
            // Only the curve's edge: the column colour over the track, mixed
            // in whole bytes, as a jagged curve has many such pixels.
            const int first = std::max(rowsBelow(std::min(a, b)), 0);
            const int last = std::min(static_cast<int>(std::ceil(std::max(a, b))), height);
            for (int row = first; row < last; ++row) {
                const auto cover = static_cast<std::uint32_t>(area(a, b, static_cast<float>(row)) * 256.0f + 0.5f);
                line(row)[j] = mix(trackPixel, colourAt_[j], cover);
            }
            continue;
        }
        const Premultiplied colour = unpack(colourAt_[j]);
        const auto redo = [&](float from, float to) {
            const int first = std::max(rowsBelow(from), 0);
            const int last = std::min(static_cast<int>(std::ceil(to)), height);
            for (int row = first; row < last; ++row) {
                const auto r = static_cast<float>(row);
                Premultiplied p = track;
                p = over(heldColour, area(ha, hb, r), p);
                p = over(colour, area(a, b, r), p);
                if (half > 0.0f) p = over(outline, overlap(r, lineLo, lineHi), p);
                line(row)[j] = pack(p);
            }
        };
        redo(std::min(a, b), std::max(a, b));
        redo(std::min(ha, hb), std::max(ha, hb));
        redo(lineLo, lineHi);
    }
}

}  // namespace crestline
