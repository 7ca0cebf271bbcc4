#include "bar/trace_layer.h"

#include <algorithm>
#include <array>
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
    if (image_.width() != std::max(columns, 1) || image_.height() != std::max(rows, 1)) {
        image_ = QImage(std::max(columns, 1), std::max(rows, 1), QImage::Format_ARGB32_Premultiplied);
        image_.fill(0);
        drawnLow_.assign(static_cast<std::size_t>(columns), 0);
        drawnHigh_.assign(static_cast<std::size_t>(columns), 0);
    }
    if (drawnLow_.size() != static_cast<std::size_t>(columns)) {
        image_.fill(0);
        drawnLow_.assign(static_cast<std::size_t>(columns), 0);
        drawnHigh_.assign(static_cast<std::size_t>(columns), 0);
    }
    columns_ = columns;
    rows_ = rows;
    nowLow_.resize(static_cast<std::size_t>(columns));
    nowHigh_.resize(static_cast<std::size_t>(columns));
    passes_.resize(kMaxPasses);
    passCount_ = 0;
}

int TraceLayer::startPass() {
    if (passCount_ >= kMaxPasses) return -1;
    Pass& pass = passes_[static_cast<std::size_t>(passCount_)];
    pass.low.assign(static_cast<std::size_t>(columns_), 0.0f);
    pass.high.assign(static_cast<std::size_t>(columns_), 0.0f);
    pass.perColumn = false;
    return passCount_++;
}

int TraceLayer::addPass(const Colour& colour) {
    const int index = startPass();
    if (index >= 0) passes_[static_cast<std::size_t>(index)].colour = premultiplied(colour);
    return index;
}

int TraceLayer::addColouredPass() {
    const int index = startPass();
    if (index >= 0) {
        Pass& pass = passes_[static_cast<std::size_t>(index)];
        pass.perColumn = true;
        pass.colours.assign(static_cast<std::size_t>(columns_), 0u);
    }
    return index;
}

void TraceLayer::span(int pass, int column, double low, double high) {
    if (pass < 0 || pass >= passCount_ || column < 0 || column >= columns_) return;
    Pass& p = passes_[static_cast<std::size_t>(pass)];
    const auto i = static_cast<std::size_t>(column);
    // Clamped to the picture, so the conversions in `composeColumn` stay in range.
    p.low[i] = static_cast<float>(std::clamp(low, 0.0, static_cast<double>(rows_)));
    p.high[i] = static_cast<float>(std::clamp(high, 0.0, static_cast<double>(rows_)));
    if (!(p.high[i] > p.low[i])) p.low[i] = p.high[i] = 0.0f;  // also for NaN
}

void TraceLayer::span(int pass, int column, double low, double high, const Colour& colour) {
    span(pass, column, low, high);
    if (pass < 0 || pass >= passCount_ || column < 0 || column >= columns_) return;
    Pass& p = passes_[static_cast<std::size_t>(pass)];
    if (p.perColumn) p.colours[static_cast<std::size_t>(column)] = premultiplied(colour);
}

void TraceLayer::finish() {
    known_.fill(false);
    uniform_ = true;
    for (int p = 0; p < passCount_; ++p) uniform_ = uniform_ && !passes_[static_cast<std::size_t>(p)].perColumn;
    // Straight into the picture, column after column: the rows of a panel
    // are a few hundred cache lines that neighbouring columns share, so
    // they stay in the cache while a column is written down. Only the rows
    // a trace covers now or covered last frame are written; the rest of
    // the picture is clear already.
    auto* bits = reinterpret_cast<std::uint32_t*>(image_.bits());
    const auto stride = static_cast<std::size_t>(image_.bytesPerLine() / 4);
    for (int c = 0; c < columns_; ++c) {
        const auto i = static_cast<std::size_t>(c);
        std::uint32_t* column = bits + i;
        composeColumn(c, column, stride);
        const int low = nowLow_[i], high = nowHigh_[i];
        for (int y = drawnLow_[i]; y < drawnHigh_[i]; ++y) {
            if (y < low || y >= high) column[static_cast<std::size_t>(rows_ - 1 - y) * stride] = 0u;
        }
        drawnLow_[i] = low;
        drawnHigh_[i] = high;
    }
}

// The column falls into runs of rows in which every pass covers all, none
// or (on the single row holding a span's end) part of each row; each run's
// colour is composed once and stored, since nothing lies under it.
void TraceLayer::composeColumn(int column, std::uint32_t* out, std::size_t stride) {
    const auto i = static_cast<std::size_t>(column);
    // Row y (from the bottom) of this column of the picture.
    const auto fill = [&](int from, int to, std::uint32_t pixel) {
        std::uint32_t* at = out + static_cast<std::size_t>(rows_ - 1 - from) * stride;
        for (int y = from; y < to; ++y, at -= stride) *at = pixel;
    };
    nowLow_[i] = nowHigh_[i] = 0;
    std::array<int, 4 * kMaxPasses> cuts{};
    int cutCount = 0;
    for (int p = 0; p < passCount_; ++p) {
        const Pass& pass = passes_[static_cast<std::size_t>(p)];
        const float low = pass.low[i], high = pass.high[i];
        if (!(high > low)) continue;
        cuts[static_cast<std::size_t>(cutCount++)] = static_cast<int>(low);
        cuts[static_cast<std::size_t>(cutCount++)] = static_cast<int>(std::ceil(low));
        cuts[static_cast<std::size_t>(cutCount++)] = static_cast<int>(high);
        cuts[static_cast<std::size_t>(cutCount++)] = static_cast<int>(std::ceil(high));
    }
    if (cutCount == 0) return;
    // Each pass adds four cuts in order; an insertion sort of at most
    // sixteen beats the general sort here, once per column.
    for (int a = 1; a < cutCount; ++a) {
        const int v = cuts[static_cast<std::size_t>(a)];
        int b = a - 1;
        while (b >= 0 && cuts[static_cast<std::size_t>(b)] > v) {
            cuts[static_cast<std::size_t>(b + 1)] = cuts[static_cast<std::size_t>(b)];
            --b;
        }
        cuts[static_cast<std::size_t>(b + 1)] = v;
    }
    // Every row from the first cut to the last is written below.
    nowLow_[i] = cuts[0];
    nowHigh_[i] = cuts[static_cast<std::size_t>(cutCount - 1)];
    for (int k = 0; k + 1 < cutCount; ++k) {
        const int from = cuts[static_cast<std::size_t>(k)];
        const int to = cuts[static_cast<std::size_t>(k + 1)];
        if (from >= to) continue;
        // Every row of the run is covered alike; its first row tells how.
        std::array<double, kMaxPasses> covered{};
        unsigned full = 0;
        bool partial = false;
        for (int p = 0; p < passCount_; ++p) {
            const Pass& pass = passes_[static_cast<std::size_t>(p)];
            const double c = std::min<double>(pass.high[i], from + 1.0) - std::max<double>(pass.low[i], from);
            covered[static_cast<std::size_t>(p)] = c;
            if (c >= 1.0) full |= 1u << p;
            partial = partial || (c > 0.0 && c < 1.0);
        }
        // Whole rows under the same pens share one colour for the frame.
        if (uniform_ && !partial && known_[full]) {
            fill(from, to, composed_[full]);
            continue;
        }
        std::uint32_t pixel = 0;
        for (int p = 0; p < passCount_; ++p) {
            const Pass& pass = passes_[static_cast<std::size_t>(p)];
            const double c = covered[static_cast<std::size_t>(p)];
            if (!(c > 0.0)) continue;
            const std::uint32_t source = pass.perColumn ? pass.colours[i] : pass.colour;
            pixel = over(c >= 1.0 ? source : byteMul(source, static_cast<std::uint32_t>(c * 255.0 + 0.5)), pixel);
        }
        if (uniform_ && !partial) {
            known_[full] = true;
            composed_[full] = pixel;
        }
        fill(from, to, pixel);
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
    if (first == last) {
        include(first, y0);
        include(first, y1);
        return;
    }
    const double slope = (static_cast<double>(y1) - y0) / (x1 - x0);
    const auto at = [&](double x) { return static_cast<float>(y0 + slope * (x - x0)); };
    for (int c = first; c <= last; ++c) {
        include(c, at(std::max(x0, static_cast<double>(c))));
        include(c, at(std::min(x1, c + 1.0)));
    }
}

void strokeColumns(TraceLayer& layer, const ColumnRanges& ranges, double width, const Colour& colour) {
    const int pass = layer.addPass(colour);
    if (pass < 0) return;
    const int n = std::min(ranges.size(), layer.columns());
    const int reach = std::max(0, static_cast<int>(std::lround((width - 1.0) / 2.0)));
    const float half = static_cast<float>(width / 2.0);
    for (int c = 0; c < n; ++c) {
        float low = kNone, high = -kNone;
        for (int k = std::max(0, c - reach); k <= std::min(n - 1, c + reach); ++k) {
            const auto j = static_cast<std::size_t>(k);
            low = std::min(low, ranges.low[j]);
            high = std::max(high, ranges.high[j]);
        }
        if (low <= high) layer.span(pass, c, low - half, high + half);
    }
}

}  // namespace crestline
