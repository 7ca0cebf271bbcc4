#include "bar/bar_view.h"

#include <QCoreApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kStatusReserve = 20.0;
constexpr double kNotchMargin = 6.0;  // room kept on each side of a notch
constexpr double kDividerHitWidth = 10.0;
constexpr double kDropBarWidth = 3.0;
constexpr double kTitleBarMinimumWidth = 60.0;
constexpr double kTitleBarMinimumHeight = 20.0;

bool contains(const std::vector<ColorArea>& order, ColorArea area) {
    return std::find(order.begin(), order.end(), area) != order.end();
}

Rect boundsRect(Size size) { return {0.0, 0.0, size.width, size.height}; }

}  // namespace

BarView::BarView(Settings& settings, MeterSource* source, const Clock& clock)
    : settings_(settings), source_(source), clock_(clock), theme_(BarTheme::liveLight()) {}

BarView::~BarView() { *alive_ = false; }

const Font& BarView::labelFont() {
    static const Font font = LiveFont::toolbar(LiveFont::toolbarSize);
    return font;
}

const Font& BarView::valueFont() {
    static const Font font = LiveFont::toolbar(LiveFont::toolbarSize);
    return font;
}

const Font& BarView::statusFont() {
    static const Font font = LiveFont::system(11.0);
    return font;
}

void BarView::setBounds(Size size) {
    const auto sane = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1e6) : 0.0; };
    bounds_ = {sane(size.width), sane(size.height)};
}

void BarView::setScale(double scale) {
    const double sane = std::isfinite(scale) && scale > 0.0 ? std::clamp(scale, 0.25, 16.0) : 2.0;
    if (sane == scale_) return;
    scale_ = sane;
    cameraCanvas_ = QImage();
    texts_.clear();
}

bool BarView::setStatus(std::optional<std::string> text) {
    if (text == status_) return false;
    status_ = std::move(text);
    return true;
}

void BarView::setTheme(const BarTheme& theme) {
    theme_ = theme;
    drawingTheme_ = &theme_;
    rebuildAreaThemes();
    levelGradients_.clear();
    texts_.clear();
}

void BarView::rebuildAreaThemes() {
    areaThemes_.clear();
    for (ColorArea area : allCases<ColorArea>()) {
        std::optional<std::vector<double>> accent;
        if (const auto rgb = settings_.accentColor(area)) accent = std::vector<double>(rgb->begin(), rgb->end());
        areaThemes_.emplace(area, theme_.tinted(accent));
    }
}

std::string BarView::themeColourKey() const { return theme_.meterFill.key() + "," + theme_.background.key(); }

Size BarView::staticTextSize(std::string_view text, const Font& font) { return texts_.size(text, font); }

// ---- Frame ----------------------------------------------------------------

void BarView::paint(QPainter& painter) {
    if (!notchGap_ || status_) {
        Canvas canvas(painter, bounds_.height, scale_, texts_);
        drawFrame(canvas);
        return;
    }
    // The notch picture: the frame is drawn offscreen in a width shortened by
    // the notch, then shown in two pieces with the notch left empty between.
    const int width = std::max(1, static_cast<int>(std::ceil(bounds_.width * scale_)));
    const int height = std::max(1, static_cast<int>(std::ceil(bounds_.height * scale_)));
    if (cameraCanvas_.width() != width || cameraCanvas_.height() != height) {
        cameraCanvas_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        cameraCanvas_.setDevicePixelRatio(scale_);
    }
    {
        QPainter offscreen(&cameraCanvas_);
        Canvas canvas(offscreen, bounds_.height, scale_, texts_);
        drawFrame(canvas);
    }
    Canvas canvas(painter, bounds_.height, scale_, texts_);
    const Rect bounds = boundsRect(bounds_);
    canvas.replace(bounds, theme_.background);
    const double split = notchGap_->lower - kNotchMargin;
    const double shift = notchGap_->width() + 2.0 * kNotchMargin;
    {
        CanvasState state(canvas);
        canvas.clip(Rect{bounds.minX(), bounds.minY(), std::max(0.0, split - bounds.minX()), bounds.height});
        canvas.draw(cameraCanvas_, bounds, false);
    }
    {
        CanvasState state(canvas);
        canvas.clip(Rect{split + shift, bounds.minY(), std::max(0.0, bounds.maxX() - split - shift), bounds.height});
        canvas.draw(cameraCanvas_, bounds.offsetBy(shift, 0.0), false);
    }
}

double BarView::margin() const {
    if (!theme().panel) return 10.0;
    return kGround + titleBarLift();
}

double BarView::moduleGap() const { return theme().panel ? kGround : kBareModuleGap; }

double BarView::groundYFor(const std::optional<StackedMeter>& stacked) const {
    const double field = stacked ? 2.0 * stacked->fieldHeight + stacked->rowGap : kFieldHeight;
    const double cap = notchGap_ ? 4.0 : kGround;
    const double room = std::floor((bounds_.height - topInset_ - field - 4.0 - titleBarLift()) / 2.0);
    return std::min(std::max(room, 1.0), cap);
}

LoudnessReading BarView::currentReading() {
    if (pointer.frozenArea == ColorArea::meter) {
        if (!pointer.frozenReading) pointer.frozenReading = source_ ? source_->reading() : LoudnessReading{};
        return *pointer.frozenReading;
    }
    return source_ ? source_->reading() : LoudnessReading{};
}

void BarView::drawFrame(Canvas& canvas) {
    if (areaThemes_.empty()) rebuildAreaThemes();
    drawingTheme_ = &theme_;
    currentArea_.reset();
    const Rect bounds = boundsRect(bounds_);
    canvas.replace(bounds, theme_.background);

    double reserve = 0.0;
    if (notchGap_) reserve = status_ ? kStatusReserve : notchGap_->width() + 2.0 * kNotchMargin + kStatusReserve;
    const Rect content{bounds.minX(), bounds.minY(), std::max(0.0, bounds.width - reserve),
                       std::max(0.0, bounds.height - topInset_)};
    layout_.content = content;
    layout_.spectrumField.reset();
    layout_.scopeField.reset();
    layout_.historyField.reset();
    layout_.resetZones.clear();
    layout_.hintZones.clear();
    layout_.areaShapes.clear();
    layout_.meterRect = {};
    layout_.statusRect.reset();

    const double grip = draggable_ ? kGripWidth : 0.0;
    if (draggable_) drawGrip(Rect{content.minX(), content.minY(), grip, content.height}, canvas);

    const LoudnessReading reading = currentReading();
    if (pointer.frozenArea != ColorArea::meter) updatePeaks();
    const std::vector<Readout> items = buildReadouts(reading);
    layout_.meter = chooseMeterLayout(content.height, content.width - grip - 20.0, items);
    layout_.metrics = meterMetrics(items, layout_.meter);
    layout_.groundY = groundYFor(layout_.meter.stacked);

    const double startX = content.minX() + grip + margin();
    const bool resizable = layout_.meter.layout == MeterLayout::dashboard ||
                           layout_.meter.layout == MeterLayout::horizontalDashboard;
    const double meterWidth = layout_.metrics.totalWidth;
    layout_.meterSpan = {content.maxX() - meterWidth, bounds.maxX(), true};
    layout_.plusRect.reset();
    layout_.meterSpreadNow = 0.0;

    if (!status_) {
        drawModuleRow(content, startX, layout_.metrics, resizable, reading, items, canvas);
    } else {
        drawStatusLayout(content, startX, meterWidth, reading, items, layout_.metrics, canvas);
    }
    finishDrawing(canvas);
}

// ---- Module row ------------------------------------------------------------

void BarView::drawModuleRow(const Rect& content, double startX, const MeterMetrics& metrics, bool resizable,
                            const LoudnessReading& reading, const std::vector<Readout>& items, Canvas& canvas) {
    // The row's own rectangle starts after the grip and the margin.
    const Rect row{startX, content.minY(), std::max(0.0, content.maxX() - startX), content.height};
    const std::vector<ColorArea> order = settings_.moduleOrder();
    struct Slot {
        int number;
        GraphKind kind;
    };
    std::vector<Slot> graphs;
    for (int n = 1; n <= Settings::kGraphSlots; ++n) {
        if (const auto kind = settings_.window(n)) graphs.push_back({n, *kind});
    }

    const bool meterShown = contains(order, ColorArea::meter);
    const double natural = metrics.totalWidth;
    double meterWidth = 0.0;
    double minimumMeter = natural;
    int gaps = 0;
    if (meterShown) {
        if (layout_.meter.layout == MeterLayout::horizontalDashboard) {
            minimumMeter = 300.0;
        } else if (layout_.meter.layout == MeterLayout::dashboard) {
            minimumMeter = 200.0;
        }
        if (resizable) {
            const double graphRoom = kMinimumGraphWidth * static_cast<double>(std::max<std::size_t>(graphs.size(), 1));
            const double maximum = std::max(minimumMeter, row.width - kRowChrome - graphRoom);
            layout_.meterLimits = {minimumMeter, maximum};
            const auto stored = settings_.meterWidth();
            meterWidth = stored ? std::clamp(*stored, minimumMeter, maximum) : natural;
            if (graphs.empty()) meterWidth = std::max(meterWidth, natural);
        } else {
            meterWidth = natural;
        }
    }
    layout_.moduleWidthLimit = std::max(kMinimumGraphWidth, row.width);
    const double limit = layout_.moduleWidthLimit;

    if (meterShown && !resizable) {
        const std::size_t columns = layout_.meter.stacked ? gridColumns(items).size() : items.size();
        gaps = static_cast<int>(std::max<std::size_t>(columns, 1)) - 1;
        const auto stored = settings_.meterSpread();
        const double spread = stored ? std::min(*stored, kMaximumSpread) : 0.0;
        meterWidth = std::min(natural + spread * gaps, std::max(natural, limit));
        layout_.meterSpreadNow = gaps > 0 ? (meterWidth - natural) / gaps : 0.0;
    } else if (meterShown) {
        layout_.meterSpreadNow = 0.0;
        if (const auto stored = settings_.moduleWidth(ColorArea::meter)) {
            meterWidth = std::min(std::max(*stored, minimumMeter), limit);
        }
    }

    // Graph widths: the ones the user sized keep their width, the others
    // share what is left by their weights.
    double fixedSum = 0.0;
    double weightSum = 0.0;
    std::vector<std::optional<double>> stored(graphs.size());
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        stored[i] = settings_.moduleWidth(colorArea(graphs[i].kind));
        if (stored[i]) {
            fixedSum += *stored[i];
        } else {
            weightSum += settings_.windowWeight(graphs[i].number);
        }
    }
    weightSum = std::max(weightSum, 0.001);
    const double freeWidth = std::max(0.0, row.width - meterWidth - kRowChrome - fixedSum);
    std::vector<double> widths(graphs.size());
    double rowWidth = meterWidth;
    for (std::size_t i = 0; i < graphs.size(); ++i) {
        if (stored[i]) {
            widths[i] = std::min(std::max(*stored[i], kMinimumGraphWidth), limit);
        } else {
            const double share = settings_.windowWeight(graphs[i].number) * freeWidth / weightSum;
            widths[i] = std::max(kMinimumGraphWidth, std::round(share));
        }
        rowWidth += widths[i];
    }
    layout_.scrollRange = std::max(0.0, rowWidth + kRowChrome - row.width);
    layout_.scrollOffset = std::clamp(layout_.scrollOffset, 0.0, layout_.scrollRange);

    const double gap = moduleGap();
    std::vector<TrailingLine> lines;
    {
        CanvasState state(canvas);
        canvas.clip(Rect{row.minX() - margin(), row.minY(), row.width + margin(), row.height});
        double x = row.minX() - layout_.scrollOffset;
        std::size_t nextGraph = 0;
        for (std::size_t index = 0; index < order.size(); ++index) {
            const ColorArea area = order[index];
            double width = 0.0;
            TrailingLine line;
            bool hasLine = true;
            if (area == ColorArea::meter) {
                width = meterWidth;
                drawMeterModule(Rect{x, row.minY(), std::max(0.0, width - gap), row.height}, reading, items, metrics,
                                canvas);
                layout_.meterSpan = {x, x + width, false};
                if (resizable) {
                    layout_.rowWidths[ColorArea::meter] = width;
                    line.minimum = minimumMeter;
                } else {
                    layout_.rowWidths.erase(ColorArea::meter);
                    line.minimum = natural;
                    line.spreadGaps = gaps;
                    hasLine = gaps >= 1;
                }
            } else {
                if (nextGraph >= graphs.size()) continue;
                const std::size_t i = nextGraph++;
                width = widths[i];
                drawGraphModule(graphs[i].kind, Rect{x, row.minY(), std::max(0.0, width - gap), row.height}, canvas);
                layout_.rowWidths[area] = width;
                line.minimum = kMinimumGraphWidth;
            }
            if (hasLine) {
                line.rect = {x + width - gap / 2.0 - kDividerHitWidth / 2.0, row.minY(), kDividerHitWidth, row.height};
                line.left = static_cast<int>(index);
                line.right = -1;
                line.pairMinX = x;
                line.pairWidth = width;
                line.module = area;
                lines.push_back(line);
            }
            const bool dividerActive = pointer.split2Hover || pointer.grab == Grab::split2;
            if (dividerActive && layout_.activeLine && layout_.activeLine->module == area) {
                drawGrabLine(x + width - gap / 2.0, Rect{x, row.minY(), width, row.height}, canvas);
            }
            x += width;
        }

        // The add button, while some module is not in the bar.
        bool missing = false;
        for (ColorArea area : allCases<ColorArea>()) missing = missing || !contains(order, area);
        if (missing) {
            const double t = titleBarLift();
            const double groundY = layout_.groundY;
            const Rect button{x, row.minY() + groundY + t, kRowChrome - kGround - t, row.height - 2.0 * groundY - t};
            if (button.width > 8.0 && button.height > 8.0) {
                const Colour fill = theme().panel ? theme().panel->withAlpha(0.55) : theme().separator;
                canvas.fillRoundedRect(button, 3.0, fill);
                const Point c{button.midX(), button.midY()};
                Path plus;
                plus.moveTo({c.x - 5.0, c.y}).lineTo({c.x + 5.0, c.y}).moveTo({c.x, c.y - 5.0}).lineTo({c.x, c.y + 5.0});
                canvas.stroke(plus, theme().valueColor, 1.5, LineCap::round);
                layout_.plusRect = button;
            }
        }
    }
    for (auto it = layout_.rowWidths.begin(); it != layout_.rowWidths.end();) {
        it = contains(order, it->first) ? std::next(it) : layout_.rowWidths.erase(it);
    }

    if (lines != layout_.trailingLines) layout_.trailingLines = lines;
    if (layout_.activeLine) {
        const auto same = std::find(lines.begin(), lines.end(), *layout_.activeLine);
        if (same == lines.end()) {
            const auto module = layout_.activeLine->module;
            const auto byModule = std::find_if(lines.begin(), lines.end(),
                                               [&](const TrailingLine& l) { return l.module == module; });
            if (byModule != lines.end()) {
                layout_.activeLine = *byModule;
            } else if (pointer.grab != Grab::split2) {
                layout_.activeLine.reset();
            }
        }
    }
    layout_.meterHandle.reset();
    layout_.splitHandle.reset();
    layout_.graphSpan = {row.minX(), freeWidth};
}

void BarView::drawStatusLayout(const Rect& content, double startX, double meterWidth, const LoudnessReading& reading,
                               const std::vector<Readout>& items, const MeterMetrics& metrics, Canvas& canvas) {
    if (meterWidth > 0.0) {
        Rect meterRect{content.maxX() - meterWidth, content.minY(), meterWidth, content.height};
        // Beside a notch the meter moves past it rather than under it.
        if (notchGap_ && meterRect.minX() < notchGap_->upper + kNotchMargin && meterRect.maxX() > notchGap_->lower) {
            const double start = notchGap_->upper + kNotchMargin;
            meterRect = {start, content.minY(), std::max(0.0, bounds_.width - kStatusReserve - start), content.height};
        }
        drawMeterModule(meterRect, reading, items, metrics, canvas);
    }
    const Size size = staticTextSize(*status_, statusFont());
    const double left = startX;
    layout_.statusRect = Rect{left + 4.0, content.midY() - size.height / 2.0, size.width, size.height};
    canvas.drawText(*status_, statusFont(), theme().statusColor, {left + 4.0, content.midY() - size.height / 2.0});
}

void BarView::drawMeterModule(const Rect& rect, const LoudnessReading& reading, const std::vector<Readout>& items,
                              const MeterMetrics& metrics, Canvas& canvas) {
    inArea(ColorArea::meter, [&] {
        layout_.meterRect = rect;
        panel(rect, canvas, [&](const Rect& inner) { drawMeter(inner, reading, items, metrics, canvas); });
    });
}

void BarView::drawGraphModule(GraphKind kind, const Rect& rect, Canvas& canvas) {
    const ColorArea area = colorArea(kind);
    static constexpr std::array<Hint, 5> kHints{Hint::scope, Hint::spectrum, Hint::imager, Hint::history,
                                                Hint::spectrogram};
    inArea(area, [&] {
        // The graphs themselves are drawn by their own displays; until then
        // the module is its (empty) panel with its hint.
        displayPanel(rect, canvas, [&](const Rect& inner) { addHint(inner, kHints[static_cast<std::size_t>(kind)]); });
    });
}

void BarView::inArea(ColorArea area, const std::function<void()>& draw) {
    if (areaThemes_.empty()) rebuildAreaThemes();
    const BarTheme* previousTheme = drawingTheme_;
    const auto previousArea = currentArea_;
    currentArea_ = area;
    if (const auto found = areaThemes_.find(area); found != areaThemes_.end()) drawingTheme_ = &found->second;
    draw();
    drawingTheme_ = previousTheme;
    currentArea_ = previousArea;
}

// ---- Panels ----------------------------------------------------------------

Rect BarView::panelRect(const Rect& rect) const {
    const double t = titleBarLift();
    const double groundY = layout_.groundY;
    return {rect.minX(), rect.minY() + groundY + t, rect.width, rect.height - 2.0 * groundY - t};
}

Rect BarView::panelShape(const Rect& rect, const Colour& colour, Canvas& canvas) {
    const Rect shape = panelRect(rect);
    canvas.fillRoundedRect(shape, kPanelRadius, colour);
    if (currentArea_) layout_.areaShapes[*currentArea_] = shape;
    return shape;
}

void BarView::displayPanel(const Rect& rect, Canvas& canvas, const std::function<void(const Rect&)>& draw) {
    const bool fits = rect.width > 8.0 && rect.height > 2.0 * layout_.groundY + 8.0;
    if (theme().panel && fits) {
        const Rect shape = panelShape(rect, *theme().panel, canvas);
        CanvasState state(canvas);
        canvas.clip(Path::roundedRect(shape, kPanelRadius));
        draw(shape);
        return;
    }
    if (currentArea_) layout_.areaShapes[*currentArea_] = rect;
    draw(rect);
}

void BarView::panel(const Rect& rect, Canvas& canvas, const std::function<void(const Rect&)>& draw) {
    const bool fits = rect.width > 8.0 && rect.height > 2.0 * layout_.groundY + 8.0;
    if (theme().panel && fits) {
        draw(panelShape(rect, *theme().panel, canvas));
        return;
    }
    if (currentArea_) layout_.areaShapes[*currentArea_] = rect;
    draw(rect);
}

// ---- Chrome and finishing --------------------------------------------------

int BarView::moduleDropIndex(double x, std::optional<ColorArea> excluding) const {
    int index = 0;
    for (ColorArea area : settings_.moduleOrder()) {
        if (area == excluding) continue;
        const auto shape = layout_.areaShapes.find(area);
        if (shape != layout_.areaShapes.end() && shape->second.midX() < x) ++index;
    }
    return index;
}

void BarView::drawModuleChrome(Canvas& canvas) {
    layout_.editZones.clear();
    const Rect bounds = boundsRect(bounds_);

    // Feedback while a module is dragged along the bar or in from outside.
    std::optional<PointerState::ModuleDrag> drag = pointer.editDrag;
    if (!drag && pointer.paletteDrop) drag = PointerState::ModuleDrag{pointer.paletteDrop->area, pointer.paletteDrop->x,
                                                                      bounds.midY()};
    if (drag) {
        const Rect grown{bounds.minX(), bounds.minY() - 4.0, bounds.width, bounds.height + 8.0};
        const BarTheme& dragTheme = areaThemes_.count(drag->area) ? areaThemes_.at(drag->area) : theme_;
        const auto dragged = layout_.areaShapes.find(drag->area);
        if (!grown.contains({drag->x, drag->y})) {
            if (dragged != layout_.areaShapes.end()) {
                const Colour tint = theme_.panel ? theme_.panel->withAlpha(0.6) : theme_.background.withAlpha(0.6);
                canvas.fillRoundedRect(dragged->second, kPanelRadius, tint);
            }
        } else {
            std::vector<Rect> others;
            for (ColorArea area : settings_.moduleOrder()) {
                if (area == drag->area) continue;
                if (const auto s = layout_.areaShapes.find(area); s != layout_.areaShapes.end()) {
                    others.push_back(s->second);
                }
            }
            if (!others.empty()) {
                const int index = moduleDropIndex(drag->x, drag->area);
                const double half = theme_.panel ? kGround / 2.0 : 7.0;
                const double at = index == 0 ? others.front().minX() - half
                                             : others[static_cast<std::size_t>(std::min<int>(
                                                          index, static_cast<int>(others.size())) - 1)]
                                                       .maxX() + half;
                const Rect& reference = others.front();
                canvas.fill(Rect{std::trunc(at - kDropBarWidth / 2.0), reference.minY(), kDropBarWidth,
                                 reference.height},
                            dragTheme.meterFill.withAlpha(1.0));
            }
        }
    }

    if (status_) return;
    std::vector<std::pair<ColorArea, bool>> titled;
    if (pointer.selectedArea) titled.emplace_back(*pointer.selectedArea, true);
    if (pointer.hoverArea && pointer.hoverArea != pointer.selectedArea) titled.emplace_back(*pointer.hoverArea, false);
    for (const auto& [area, selected] : titled) {
        const auto shape = layout_.areaShapes.find(area);
        if (shape == layout_.areaShapes.end()) continue;
        if (shape->second.width < kTitleBarMinimumWidth || shape->second.height < kTitleBarMinimumHeight) continue;
        drawTitleBar(area, shape->second, selected, canvas);
    }
}

void BarView::drawTitleBar(ColorArea area, const Rect& shape, bool selected, Canvas& canvas) {
    const double h = shape.height >= 30.0 ? 16.0 : std::max(11.0, std::min(std::floor(shape.height / 2.0), 16.0));
    const Rect bar{shape.minX(), shape.maxY() - h, shape.width, h};
    const BarTheme& areaTheme = areaThemes_.count(area) ? areaThemes_.at(area) : theme_;
    const Colour accent = areaTheme.meterFill;
    {
        CanvasState state(canvas);
        canvas.clip(Path::roundedRect(shape, kPanelRadius));
        const Colour fill = theme_.titleBar ? *theme_.titleBar
                            : theme_.panel  ? theme_.panel->withAlpha(0.96)
                                            : theme_.background.withAlpha(0.96);
        canvas.fill(bar, fill);
        if (selected) canvas.fill(bar, accent.withAlpha(0.42));
    }
    if (selected) canvas.stroke(Path::roundedRect(shape.insetBy(0.5, 0.5), kPanelRadius), accent.withAlpha(0.7), 1.0);

    layout_.editZones.emplace_back(bar, EditTarget{EditTarget::Kind::module, area});
    const double g = std::min(h - 4.0, 12.0);
    const Rect gear{bar.maxX() - g - 4.0, std::trunc(bar.midY() - g / 2.0), g, g};
    drawGearIcon(gear, canvas);
    layout_.editZones.emplace_back(gear.insetBy(-3.0, -2.0), EditTarget{EditTarget::Kind::options, area});

    const Font font = LiveFont::toolbar(h < 16.0 ? 9.0 : 11.0, true);
    const std::string_view name = title(area);
    const Size size = staticTextSize(name, font);
    if (size.width + 6.0 < gear.minX() - 4.0 - bar.minX()) {
        canvas.drawText(name, font, theme_.valueColor, {bar.minX() + 6.0, bar.midY() - size.height / 2.0});
    }
}

void BarView::drawGearIcon(const Rect& rect, Canvas& canvas) {
    // Eight teeth around a ring, drawn as one even-odd path.
    const Point c{rect.midX(), rect.midY()};
    const double outer = rect.width / 2.0;
    const double root = outer * 0.72;
    const double hole = outer * 0.32;
    Path gear;
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 4; ++i) {
        const double angle = (i - 0.5) * M_PI / (kTeeth * 2.0);
        const double r = (i % 4 == 1 || i % 4 == 2) ? outer : root;
        const Point p{c.x + r * std::cos(angle), c.y + r * std::sin(angle)};
        if (i == 0) {
            gear.moveTo(p);
        } else {
            gear.lineTo(p);
        }
    }
    gear.close();
    gear.addEllipse(Rect{c.x - hole, c.y - hole, 2.0 * hole, 2.0 * hole});
    canvas.fill(gear, theme_.labelColor);
}

void BarView::drawGrip(const Rect& rect, Canvas& canvas) {
    constexpr double kDot = 1.7;
    constexpr double kPitch = 5.7;
    for (int column = 0; column < 2; ++column) {
        for (int row = 0; row < 3; ++row) {
            const double cx = rect.midX() - kPitch / 2.0 + column * kPitch;
            const double cy = rect.midY() - kPitch + row * kPitch;
            canvas.fill(Path().addEllipse(Rect{cx - kDot / 2.0, cy - kDot / 2.0, kDot, kDot}), theme_.gripDot);
        }
    }
}

void BarView::drawGrabLine(double x, const Rect& rect, Canvas& canvas) {
    double bottom = rect.minY() + 3.0;
    double top = rect.maxY() - 3.0;
    if (theme_.panel) {
        bottom = rect.minY() + layout_.groundY + titleBarLift();
        top = rect.maxY() - layout_.groundY;
    }
    if (top <= bottom) return;
    canvas.fillRoundedRect(Rect{std::trunc(x - 1.0), bottom, 2.0, top - bottom}, 1.0, kHandleColour);
}

void BarView::divider(double x, const Rect& rect, double inset, Canvas& canvas) {
    if (rect.height <= 2.0 * inset) return;
    canvas.fill(Rect{x, rect.minY() + inset, 1.0, rect.height - 2.0 * inset}, theme().separator);
}

void BarView::postFrameChanged() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !onFrameChanged) return;
    std::weak_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        app,
        [this, alive] {
            const auto living = alive.lock();
            if (living && *living && onFrameChanged) onFrameChanged();
        },
        Qt::QueuedConnection);
}

void BarView::finishDrawing(Canvas& canvas) {
    const Rect bounds = boundsRect(bounds_);
    const bool meterHandleActive = pointer.meterHover || pointer.grab == Grab::meter;
    if (theme_.panel && layout_.meterHandle && meterHandleActive && !notchGap_) {
        drawGrabLine(layout_.meterHandle->midX(), layout_.content, canvas);
    }
    drawModuleChrome(canvas);
    if (layout_.areaShapes != layout_.lastShapes) {
        layout_.lastShapes = layout_.areaShapes;
        postFrameChanged();
    }
    if (draggable_) {
        canvas.stroke(Path::roundedRect(bounds.insetBy(0.5, 0.5), theme_.squared ? 1.5 : 6.5), theme_.border, 1.0);
    } else {
        canvas.fill(Rect{bounds.minX(), bounds.minY(), bounds.width, 1.0}, theme_.border);
    }
    if (pointer.menuHighlight) {
        const auto shape = layout_.areaShapes.find(*pointer.menuHighlight);
        if (shape != layout_.areaShapes.end()) {
            const BarTheme& areaTheme =
                areaThemes_.count(*pointer.menuHighlight) ? areaThemes_.at(*pointer.menuHighlight) : theme_;
            canvas.stroke(Path::roundedRect(shape->second.insetBy(1.0, 1.0), kPanelRadius),
                          areaTheme.meterFill.withAlpha(1.0), 2.0);
        }
    }
    if (pointer.heightHover || pointer.grab == Grab::height) {
        canvas.fill(Rect{bounds.minX(), bounds.minY(), bounds.width, 2.0}, kHandleColour);
    }
    const auto edge = pointer.grab == Grab::left || pointer.grab == Grab::right ? pointer.grab : pointer.edgeHover;
    if (edge == Grab::left) canvas.fill(Rect{bounds.minX(), bounds.minY(), 2.0, bounds.height}, kHandleColour);
    if (edge == Grab::right) canvas.fill(Rect{bounds.maxX() - 2.0, bounds.minY(), 2.0, bounds.height}, kHandleColour);
}

// ---- Window size, scrolling, display link ------------------------------------

double BarView::minimumWidth() {
    const double grip = draggable_ ? kGripWidth : 0.0;
    const double height = std::max(0.0, bounds_.height - topInset_);
    const LoudnessReading reading = source_ ? source_->reading() : LoudnessReading{};
    const std::vector<Readout> items = buildReadouts(reading);
    const double room = bounds_.width - grip - 20.0;
    const MeterChoice choice = chooseMeterLayout(height, room, items);
    const double natural = items.empty() ? 0.0 : meterMetrics(items, choice).totalWidth;
    int later = 0;
    for (int n = 2; n <= Settings::kGraphSlots; ++n) later += settings_.window(n) ? 1 : 0;
    double width = grip + margin() + natural;
    if (settings_.window(1)) width += kMinimumGraphWidth;
    if (later > 0) width += kMinimumGraphWidth;
    width += kMinimumGraphWidth * (std::max(later, 1) - 1);
    return std::max(std::trunc(width), 320.0);
}

bool BarView::scrollWheel(double dx, double dy, bool precise) {
    if (!(layout_.scrollRange > 0.0)) return false;
    const double delta = std::fabs(dx) >= std::fabs(dy) ? dx : dy;
    if (!std::isfinite(delta)) return true;
    const double factor = precise ? 1.0 : 8.0;
    layout_.scrollOffset = std::clamp(layout_.scrollOffset - delta * factor, 0.0, layout_.scrollRange);
    return true;
}

bool BarView::step() {
    const double now = clock_.now();
    if (source_ != nullptr) {
        const std::uint64_t activity = source_->activity();
        if (activity != lastActivity_) {
            lastActivity_ = activity;
            lastActivityTime_ = now;
        }
    }
    if (now - lastActivityTime_ < 4.0) return true;
    if (transportLastMessage) {
        if (const auto last = transportLastMessage()) return now - *last < 1.5;
    }
    return false;
}

}  // namespace crestline
