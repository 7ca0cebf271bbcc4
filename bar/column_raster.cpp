#include "bar/column_raster.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace crestline {

namespace {

constexpr int kLargestSide = 32768;  // pixels
constexpr float kNone = std::numeric_limits<float>::infinity();

// `source` (premultiplied ARGB) at `cover` of 256 over `under`.
std::uint32_t over(std::uint32_t source, unsigned cover, std::uint32_t under) {
    if (cover >= 256 && (source >> 24) == 0xFFu) return source;
    const unsigned alpha = ((source >> 24) * cover) >> 8;
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned s = (((source >> shift) & 0xFFu) * cover) >> 8;
        const unsigned d = (under >> shift) & 0xFFu;
        out |= std::min(s + (d * (255u - alpha) + 127u) / 255u, 255u) << shift;
    }
    return out;
}

std::uint32_t premultiplied(const Colour& c) {
    const double a = std::clamp(c.alpha, 0.0, 1.0);
    const auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return byte(a) << 24 | byte(c.red * a) << 16 | byte(c.green * a) << 8 | byte(c.blue * a);
}

}  // namespace

void ColumnRaster::begin(const Rect& rect, double scale) {
    const double s = scale > 0.0 && std::isfinite(scale) ? scale : 1.0;
    const auto pixel = [s](double points, bool up) {
        const double p = std::clamp(points * s, -1e9, 1e9);
        return up ? std::ceil(p) : std::floor(p);
    };
    const double left = pixel(rect.minX(), false);
    const double bottom = pixel(rect.minY(), false);
    const int width = static_cast<int>(std::clamp(pixel(rect.maxX(), true) - left, 1.0, double{kLargestSide}));
    const int height = static_cast<int>(std::clamp(pixel(rect.maxY(), true) - bottom, 1.0, double{kLargestSide}));
    left_ = left / s;
    top_ = (bottom + height) / s;
    if (image_.width() != width || image_.height() != height) {
        image_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        image_.fill(Qt::transparent);
        lows_.assign(static_cast<std::size_t>(width), kNone);
        fillTops_.assign(static_cast<std::size_t>(width), 0.0f);
        highs_.assign(static_cast<std::size_t>(width), -kNone);
    } else if (paintedTo_ > paintedFrom_) {
        std::memset(image_.scanLine(paintedFrom_), 0,
                    static_cast<std::size_t>(paintedTo_ - paintedFrom_) * static_cast<std::size_t>(image_.bytesPerLine()));
    }
    scale_ = s;
    paintedFrom_ = height;
    paintedTo_ = 0;
}

double ColumnRaster::rowY(int row) const { return top_ - (row + 0.5) / scale_; }

template <typename ColourOfRow>
void ColumnRaster::span(int column, double low, double high, ColourOfRow colourOfRow) {
    if (column < 0 || column >= image_.width() || !(high > low)) return;
    const double first = std::max((top_ - high) * scale_, 0.0);  // top edge, in rows
    const double last = std::min((top_ - low) * scale_, static_cast<double>(image_.height()));
    if (!(last > first)) return;
    const int from = static_cast<int>(first);
    const int to = static_cast<int>(std::ceil(last));
    paintedFrom_ = std::min(paintedFrom_, from);
    paintedTo_ = std::max(paintedTo_, to);
    uchar* const bits = image_.bits();
    const qsizetype stride = image_.bytesPerLine();
    for (int row = from; row < to; ++row) {
        const double cover = std::min(row + 1.0, last) - std::max(static_cast<double>(row), first);
        auto* pixel = reinterpret_cast<std::uint32_t*>(bits + row * stride) + column;
        *pixel = over(colourOfRow(row), static_cast<unsigned>(cover * 256.0 + 0.5), *pixel);
    }
}

void ColumnRaster::fillColumns(std::span<const double> tops, double firstX, double step, double bottom,
                               std::span<const std::uint32_t> rowColours) {
    const int width = image_.width();
    const int height = image_.height();
    if (tops.empty() || !(step > 0.0) || rowColours.size() < static_cast<std::size_t>(height)) return;
    // The top edge of each pixel column in rows (the height when empty),
    // then row by row: whole pixels take the row's colour, the top one its
    // share. Rows run along memory, so this streams.
    const double foot = std::clamp((top_ - bottom) * scale_, 0.0, static_cast<double>(height));
    double highest = foot;
    for (int column = 0; column < width; ++column) {
        const double x = left_ + (column + 0.5) / scale_;
        const double k = std::floor((x - firstX) / step);
        float edge = static_cast<float>(height);
        if (k >= 0.0 && k < static_cast<double>(tops.size())) {
            const double top = tops[static_cast<std::size_t>(k)];
            if (std::isfinite(top)) edge = static_cast<float>(std::clamp((top_ - top) * scale_, 0.0, foot));
        }
        fillTops_[static_cast<std::size_t>(column)] = edge;
        highest = std::min(highest, double{edge});
    }
    const int from = static_cast<int>(highest);
    const int to = static_cast<int>(std::ceil(foot));
    if (to <= from) return;
    paintedFrom_ = std::min(paintedFrom_, from);
    paintedTo_ = std::max(paintedTo_, to);
    uchar* const bits = image_.bits();
    const qsizetype stride = image_.bytesPerLine();
    const float* const edges = fillTops_.data();
    for (int row = from; row < to; ++row) {
        const std::uint32_t colour = rowColours[static_cast<std::size_t>(row)];
        const float rowTop = static_cast<float>(row);
        const float footCover = std::min(static_cast<float>(foot) - rowTop, 1.0f);
        auto* line = reinterpret_cast<std::uint32_t*>(bits + row * stride);
        for (int column = 0; column < width; ++column) {
            const float cover = std::min(rowTop + 1.0f - edges[column], footCover);
            if (cover <= 0.0f) continue;
            line[column] = cover >= 1.0f ? colour : over(colour, static_cast<unsigned>(cover * 256.0f + 0.5f), line[column]);
        }
    }
}

void ColumnRaster::strokeLine(std::span<const double> ys, double firstX, double step, const Colour& colour,
                              double width) {
    if (ys.size() < 2 || !(step > 0.0) || !(width > 0.0)) return;
    // The y extent of the line over each pixel column, segment by segment;
    // a pixel column holding a vertex takes the union of both segments.
    int touchedFrom = image_.width();
    int touchedTo = 0;
    for (std::size_t k = 0; k + 1 < ys.size(); ++k) {
        const double ya = ys[k];
        const double yb = ys[k + 1];
        if (!std::isfinite(ya) || !std::isfinite(yb)) continue;
        const double xa = firstX + static_cast<double>(k) * step;
        const double xb = xa + step;
        const int from = std::max(static_cast<int>(std::floor((xa - left_) * scale_)), 0);
        const int to = std::min(static_cast<int>(std::ceil((xb - left_) * scale_)), image_.width());
        for (int column = from; column < to; ++column) {
            const double x0 = std::max(xa, left_ + column / scale_);
            const double x1 = std::min(xb, left_ + (column + 1) / scale_);
            if (x1 < x0) continue;
            const double y0 = ya + (x0 - xa) / step * (yb - ya);
            const double y1 = ya + (x1 - xa) / step * (yb - ya);
            auto& low = lows_[static_cast<std::size_t>(column)];
            auto& high = highs_[static_cast<std::size_t>(column)];
            low = std::min(low, static_cast<float>(std::min(y0, y1)));
            high = std::max(high, static_cast<float>(std::max(y0, y1)));
        }
        touchedFrom = std::min(touchedFrom, from);
        touchedTo = std::max(touchedTo, to);
    }
    const std::uint32_t ink = premultiplied(colour);
    const auto colourOfRow = [ink](int) { return ink; };
    const double half = width / 2.0;
    for (int column = touchedFrom; column < touchedTo; ++column) {
        auto& low = lows_[static_cast<std::size_t>(column)];
        auto& high = highs_[static_cast<std::size_t>(column)];
        if (low <= high) span(column, low - half, high + half, colourOfRow);
        low = kNone;
        high = -kNone;
    }
}

void ColumnRaster::draw(Canvas& canvas) const {
    if (paintedTo_ <= paintedFrom_ || image_.isNull()) return;
    // Only the rows painted, pixel for pixel; the painter is flipped, so
    // flip back locally for an upright picture.
    const double rows = paintedTo_ - paintedFrom_;
    const double width = image_.width() / scale_;
    const double height = rows / scale_;
    const double bottom = top_ - paintedTo_ / scale_;
    QPainter& painter = canvas.painter();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.translate(left_, bottom + height);
    painter.scale(1.0, -1.0);
    painter.drawImage(QRectF(0.0, 0.0, width, height), image_, QRectF(0.0, paintedFrom_, image_.width(), rows));
    painter.restore();
}

}  // namespace crestline
