#include "bar/row_layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "settings/settings.h"

namespace crestline {

namespace {

struct GraphSlot {
    int number;
    GraphKind kind;
};

// The panel drawn for a module rectangle, when the theme draws panels and
// the rectangle has room for one.
PlacedModule place(ColorArea area, const Rect& rect, double width, const RowLayout& row, const RowInputs& in) {
    PlacedModule m{area, rect, rect, false, width};
    const bool fits = rect.width > 8.0 && rect.height > 2.0 * row.groundY + 8.0;
    if (in.panels && fits) {
        const double t = in.hasTitleBar ? 1.0 : 0.0;
        m.shape = {rect.minX(), rect.minY() + row.groundY + t, rect.width, rect.height - 2.0 * row.groundY - t};
        m.panel = true;
    }
    return m;
}

}  // namespace

double rowMargin(bool panels, bool hasTitleBar) {
    if (!panels) return 10.0;
    return kGround + (hasTitleBar ? 1.0 : 0.0);
}

double panelInset(double height, const std::optional<StackedMeter>& stacked, bool hasTitleBar, bool notch) {
    const double field = stacked ? 2.0 * stacked->fieldHeight + stacked->rowGap : kFieldHeight;
    const double cap = notch ? 4.0 : kGround;
    const double room = std::floor((height - field - 4.0 - (hasTitleBar ? 1.0 : 0.0)) / 2.0);
    return std::min(std::max(room, 1.0), cap);
}

double minimumRowWidth(const Settings& settings, bool draggable, double margin, double meterNaturalWidth) {
    int later = 0;
    for (int n = 2; n <= Settings::kGraphSlots; ++n) later += settings.window(n) ? 1 : 0;
    double width = (draggable ? kGripWidth : 0.0) + margin + meterNaturalWidth;
    if (settings.window(1)) width += kMinimumGraphWidth;
    if (later > 0) width += kMinimumGraphWidth;
    width += kMinimumGraphWidth * (std::max(later, 1) - 1);
    return std::max(std::trunc(width), 320.0);
}

Rect rowContent(const RowInputs& in) {
    double reserve = 0.0;
    if (in.notchGap) reserve = in.status ? kStatusReserve : in.notchGap->width() + 2.0 * kNotchMargin + kStatusReserve;
    return {0.0, 0.0, std::max(0.0, in.bounds.width - reserve), std::max(0.0, in.bounds.height - in.topInset)};
}

RowLayout layoutRow(const RowInputs& in) {
    RowLayout out;
    layoutRow(in, out);
    return out;
}

void layoutRow(const RowInputs& in, RowLayout& out) {
    std::vector<PlacedModule> modules = std::move(out.modules);
    std::vector<TrailingLine> lines = std::move(out.trailingLines);
    modules.clear();
    lines.clear();
    out = RowLayout{};
    out.modules = std::move(modules);
    out.trailingLines = std::move(lines);

    const Rect content = rowContent(in);
    out.content = content;
    out.grip = in.draggable ? kGripWidth : 0.0;
    out.margin = rowMargin(in.panels, in.hasTitleBar);
    out.startX = content.minX() + out.grip + out.margin;
    out.groundY = panelInset(content.height, in.meter.stacked, in.hasTitleBar, in.notchGap.has_value());
    out.gap = in.panels ? kGround : kBareModuleGap;
    const double natural = in.meterNaturalWidth;
    out.meterSpan = {content.maxX() - natural, in.bounds.width, true};
    out.scrollOffset = std::max(0.0, in.scrollOffset);

    if (in.status) {
        // The meter at the right end; beside a notch it moves past it rather
        // than under it.
        if (natural > 0.0) {
            Rect meter{content.maxX() - natural, content.minY(), natural, content.height};
            if (in.notchGap && meter.minX() < in.notchGap->upper + kNotchMargin &&
                meter.maxX() > in.notchGap->lower) {
                const double start = in.notchGap->upper + kNotchMargin;
                meter = {start, content.minY(), std::max(0.0, in.bounds.width - kStatusReserve - start),
                         content.height};
            }
            out.meterRect = meter;
            out.modules.push_back(place(ColorArea::meter, meter, meter.width, out, in));
            out.areaShapes[ColorArea::meter] = out.modules.back().shape;
        }
        out.scrollOffset = 0.0;
        out.graphSpan = {content.minX(), 0.0};
        return;
    }

    // The row's own rectangle starts after the grip and the margin.
    const Rect row{out.startX, content.minY(), std::max(0.0, content.maxX() - out.startX), content.height};
    const ShortList<ColorArea> order = in.settings.moduleOrderList();
    std::array<GraphSlot, Settings::kGraphSlots> graphSlots{};
    std::size_t graphCount = 0;
    for (int n = 1; n <= Settings::kGraphSlots; ++n) {
        if (const auto kind = in.settings.window(n)) graphSlots[graphCount++] = {n, *kind};
    }
    const std::span<const GraphSlot> graphs(graphSlots.data(), graphCount);

    const bool resizable =
        in.meter.layout == MeterLayout::dashboard || in.meter.layout == MeterLayout::horizontalDashboard;
    const bool meterShown = order.contains(ColorArea::meter);
    // The readouts keep their padding on both sides: the gap after the
    // meter comes on top of its natural width, not out of it.
    const double rowNatural = resizable || natural <= 0.0 ? natural : natural + out.gap;
    double meterWidth = 0.0;
    double minimumMeter = rowNatural;
    int gaps = 0;
    if (meterShown) {
        if (in.meter.layout == MeterLayout::horizontalDashboard) {
            minimumMeter = 300.0;
        } else if (in.meter.layout == MeterLayout::dashboard) {
            minimumMeter = 200.0;
        }
        if (resizable) {
            const double graphRoom = kMinimumGraphWidth * static_cast<double>(std::max<std::size_t>(graphs.size(), 1));
            const double maximum = std::max(minimumMeter, row.width - kRowChrome - graphRoom);
            out.meterLimits = {minimumMeter, maximum};
            const auto stored = in.settings.meterWidth();
            meterWidth = stored ? std::clamp(*stored, minimumMeter, maximum) : natural;
            if (graphs.empty()) meterWidth = std::max(meterWidth, natural);
        } else {
            meterWidth = rowNatural;
        }
    }
    out.moduleWidthLimit = std::max(kMinimumGraphWidth, row.width);
    const double limit = out.moduleWidthLimit;

    if (meterShown && !resizable) {
        gaps = std::max(in.meterColumns, 1) - 1;
        const auto stored = in.settings.meterSpread();
        const double spread = stored ? std::min(*stored, kMaximumSpread) : 0.0;
        meterWidth = std::min(rowNatural + spread * gaps, std::max(rowNatural, limit));
        out.meterSpreadNow = gaps > 0 ? (meterWidth - rowNatural) / gaps : 0.0;
    } else if (meterShown) {
        if (const auto stored = in.settings.moduleWidth(ColorArea::meter)) {
            meterWidth = std::min(std::max(*stored, minimumMeter), limit);
        }
    }

    // Graph widths: the ones the user sized keep their width, the others
    // share what is left by their weights.
    double fixedSum = 0.0;
    double weightSum = 0.0;
    std::array<std::optional<double>, Settings::kGraphSlots> stored{};
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        stored[i] = in.settings.moduleWidth(colorArea(graphs[i].kind));
        if (stored[i]) {
            fixedSum += *stored[i];
        } else {
            weightSum += in.settings.windowWeight(graphs[i].number);
        }
    }
    weightSum = std::max(weightSum, 0.001);
    const double freeWidth = std::max(0.0, row.width - meterWidth - kRowChrome - fixedSum);
    std::array<double, Settings::kGraphSlots> widths{};
    double rowWidth = meterWidth;
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        if (stored[i]) {
            widths[i] = std::min(std::max(*stored[i], kMinimumGraphWidth), limit);
        } else {
            const double share = in.settings.windowWeight(graphs[i].number) * freeWidth / weightSum;
            widths[i] = std::max(kMinimumGraphWidth, std::round(share));
        }
        rowWidth += widths[i];
    }
    out.scrollRange = std::max(0.0, rowWidth + kRowChrome - row.width);
    out.scrollOffset = std::clamp(out.scrollOffset, 0.0, out.scrollRange);
    out.graphSpan = {row.minX(), freeWidth};
    out.clip = {row.minX() - out.margin, row.minY(), row.width + out.margin, row.height};

    const double gap = out.gap;
    double x = row.minX() - out.scrollOffset;
    std::size_t nextGraph = 0;
    for (std::size_t index = 0; index < order.size(); ++index) {
        const ColorArea area = order[index];
        double width = 0.0;
        TrailingLine line;
        bool hasLine = true;
        if (area == ColorArea::meter) {
            width = meterWidth;
            out.meterRect = {x, row.minY(), std::max(0.0, width - gap), row.height};
            out.modules.push_back(place(area, out.meterRect, width, out, in));
            out.meterSpan = {x, x + width, false};
            if (resizable) {
                out.rowWidths[ColorArea::meter] = width;
                line.minimum = minimumMeter;
            } else {
                line.minimum = rowNatural;
                line.spreadGaps = gaps;
                hasLine = gaps >= 1;
            }
        } else {
            // The row pairs the graph modules of the order with the slots in turn.
            if (nextGraph >= graphs.size()) continue;
            const std::size_t i = nextGraph++;
            width = widths[i];
            const ColorArea shown = colorArea(graphs[i].kind);
            out.modules.push_back(place(shown, Rect{x, row.minY(), std::max(0.0, width - gap), row.height}, width,
                                        out, in));
            out.rowWidths[shown] = width;
            line.minimum = kMinimumGraphWidth;
        }
        out.areaShapes[out.modules.back().area] = out.modules.back().shape;
        if (hasLine) {
            line.rect = {x + width - gap / 2.0 - kDividerHitWidth / 2.0, row.minY(), kDividerHitWidth, row.height};
            line.left = static_cast<int>(index);
            line.right = -1;
            line.pairMinX = x;
            line.pairWidth = width;
            line.module = out.modules.back().area;
            out.trailingLines.push_back(line);
        }
        x += width;
    }

    // The add button, while some module is not in the bar.
    bool missing = false;
    for (ColorArea area : allCases<ColorArea>()) missing = missing || !order.contains(area);
    if (missing) {
        const double t = in.hasTitleBar ? 1.0 : 0.0;
        const Rect button{x, row.minY() + out.groundY + t, kRowChrome - kGround - t,
                          row.height - 2.0 * out.groundY - t};
        if (button.width > 8.0 && button.height > 8.0) out.plusRect = button;
    }
}

}  // namespace crestline
