#include "bar/trace_layer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace crestline {

namespace {

// x × a / 255 on the four bytes of a premultiplied pixel at once, a in 0…255.
inline std::uint32_t byteMul(std::uint32_t x, std::uint32_t a) {
    std::uint32_t t = (x & 0xff00ffu) * a;
    t = (t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8;
    t &= 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a;
    x = x + ((x >> 8) & 0xff00ffu) + 0x800080u;
    x &= 0xff00ff00u;
    return x | t;
}

inline std::uint32_t over(std::uint32_t source, std::uint32_t destination) {
    return source + byteMul(destination, 255u - (source >> 24));
}

std::uint32_t premultiplied(const Colour& c) {
    const auto byte = [](double v) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(std::isfinite(v) ? v : 0.0, 0.0, 1.0) * 255.0));
    };
    const std::uint32_t a = byte(c.alpha);
    const auto channel = [&](double v) { return byteMul(byte(v), a) & 0xffu; };
    return a << 24 | channel(c.red) << 16 | channel(c.green) << 8 | channel(c.blue);
}

constexpr float kNone = std::numeric_limits<float>::infinity();

}  // namespace

void TraceLayer::begin(int columns, int rows) {
    columns = std::max(columns, 0);
    rows = std::max(rows, 0);
    if (image_.width() != columns || image_.height() != rows) {
        image_ = QImage(std::max(columns, 1), std::max(rows, 1), QImage::Format_ARGB32_Premultiplied);
        image_.fill(0);
        dirtyLow_.assign(static_cast<std::size_t>(columns), 1);
        dirtyHigh_.assign(static_cast<std::size_t>(columns), 0);
    } else {
        const auto stride = image_.bytesPerLine() / 4;
        auto* bits = reinterpret_cast<std::uint32_t*>(image_.bits());
        for (int c = 0; c < columns; ++c) {
            const auto i = static_cast<std::size_t>(c);
            for (int row = dirtyLow_[i]; row <= dirtyHigh_[i]; ++row) bits[row * stride + c] = 0;
            dirtyLow_[i] = 1;
            dirtyHigh_[i] = 0;
        }
    }
    columns_ = columns;
    rows_ = rows;
}

void TraceLayer::span(int column, double low, double high, const Colour& colour) {
    if (column < 0 || column >= columns_ || !(high > low)) return;
    low = std::max(low, 0.0);
    high = std::min(high, static_cast<double>(rows_));
    if (!(high > low)) return;
    const std::uint32_t source = premultiplied(colour);
    const auto stride = image_.bytesPerLine() / 4;
    auto* bits = reinterpret_cast<std::uint32_t*>(image_.bits()) + column;
    const int first = static_cast<int>(low);
    const int last = std::min(static_cast<int>(std::ceil(high)), rows_) - 1;
    for (int y = first; y <= last; ++y) {
        const double covered = std::min(high, y + 1.0) - std::max(low, static_cast<double>(y));
        if (!(covered > 0.0)) continue;
        std::uint32_t& pixel = bits[(rows_ - 1 - y) * stride];
        pixel = covered >= 1.0 ? over(source, pixel)
                               : over(byteMul(source, static_cast<std::uint32_t>(covered * 255.0 + 0.5)), pixel);
    }
    const auto i = static_cast<std::size_t>(column);
    if (dirtyLow_[i] > dirtyHigh_[i]) {
        dirtyLow_[i] = rows_ - 1 - last;
        dirtyHigh_[i] = rows_ - 1 - first;
    } else {
        dirtyLow_[i] = std::min(dirtyLow_[i], rows_ - 1 - last);
        dirtyHigh_[i] = std::max(dirtyHigh_[i], rows_ - 1 - first);
    }
}

void ColumnRanges::reset(int columns) {
    const auto n = static_cast<std::size_t>(std::max(columns, 0));
    low.assign(n, kNone);
    high.assign(n, -kNone);
}

void ColumnRanges::include(int column, float y) {
    if (column < 0 || column >= size() || !std::isfinite(y)) return;
    const auto i = static_cast<std::size_t>(column);
    low[i] = std::min(low[i], y);
    high[i] = std::max(high[i], y);
}

void ColumnRanges::addSegment(double x0, float y0, double x1, float y1) {
    if (!(x1 >= x0) || !std::isfinite(x0) || !std::isfinite(x1)) return;
    const double columns = size();
    if (x1 < 0.0 || x0 >= columns) return;
    const int first = static_cast<int>(std::floor(std::max(x0, 0.0)));
    const int last = static_cast<int>(std::floor(std::min(x1, columns - 1e-9)));
    if (first == last || x1 == x0) {
        include(first, y0);
        include(first, y1);
        if (last != first) include(last, y1);
        return;
    }
    const double slope = (static_cast<double>(y1) - y0) / (x1 - x0);
    const auto at = [&](double x) { return static_cast<float>(y0 + slope * (x - x0)); };
    for (int c = first; c <= last; ++c) {
        include(c, at(std::max(x0, static_cast<double>(c))));
        include(c, at(std::min(x1, c + 1.0)));
    }
}

void strokeColumns(TraceLayer& layer, const ColumnRanges& ranges, double width, const Colour& colour,
                   ColumnRanges& scratch) {
    const int n = std::min(ranges.size(), layer.columns());
    const int reach = std::max(0, static_cast<int>(std::lround((width - 1.0) / 2.0)));
    const float half = static_cast<float>(width / 2.0);
    scratch.reset(n);
    for (int c = 0; c < n; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (ranges.empty(c)) continue;
        for (int k = std::max(0, c - reach); k <= std::min(n - 1, c + reach); ++k) {
            const auto j = static_cast<std::size_t>(k);
            scratch.low[j] = std::min(scratch.low[j], ranges.low[i] - half);
            scratch.high[j] = std::max(scratch.high[j], ranges.high[i] + half);
        }
    }
    for (int c = 0; c < n; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (!scratch.empty(c)) layer.span(c, scratch.low[i], scratch.high[i], colour);
    }
}

}  // namespace crestline
