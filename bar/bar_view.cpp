#include "bar/bar_view.h"

#include <QCoreApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "analysis/spectrum_analyzer.h"
#include "live/live_sync.h"
#include "settings/settings.h"

namespace crestline {

namespace {

constexpr double kDropBarWidth = 3.0;
constexpr double kTitleBarMinimumWidth = 60.0;
constexpr double kTitleBarMinimumHeight = 20.0;

Rect boundsRect(Size size) { return {0.0, 0.0, size.width, size.height}; }

constexpr std::array<Hint, 5> kGraphHints{Hint::scope, Hint::spectrum, Hint::imager, Hint::history,
                                          Hint::spectrogram};

}  // namespace

BarView::BarView(Settings& settings, MeterSource* source, const Clock& clock)
    : settings_(settings),
      source_(source),
      clock_(clock),
      theme_(BarTheme::liveLight()),
      spectrum_(std::make_unique<SpectrumAnalyzer>(kSpectrumReleasePerSecond, kSpectrumPadding, clock)) {
    for (GraphKind kind : allCases<GraphKind>()) graphs_[static_cast<std::size_t>(kind)] = makeGraphDisplay(kind);
}

BarView::~BarView() { *alive_ = false; }

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
    for (auto& display : graphs_) display->themeChanged();
}

bool BarView::setStatus(std::optional<std::string> text) {
    if (text == status_) return false;
    status_ = std::move(text);
    return true;
}

void BarView::setTheme(const BarTheme& theme) {
    theme_ = theme;
    rebuildAreaThemes();
    gradients_.clear();
    texts_.clear();
    for (auto& display : graphs_) display->themeChanged();
}

void BarView::rebuildAreaThemes() {
    areaThemes_.clear();
    for (ColorArea area : allCases<ColorArea>()) {
        std::optional<std::vector<double>> accent;
        if (const auto rgb = settings_.accentColor(area)) accent = std::vector<double>(rgb->begin(), rgb->end());
        areaThemes_.emplace(area, theme_.tinted(accent));
    }
}

const BarTheme& BarView::areaTheme(ColorArea area) const {
    const auto found = areaThemes_.find(area);
    return found != areaThemes_.end() ? found->second : theme_;
}

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

RowInputs BarView::rowInputs() const {
    return RowInputs{.settings = settings_,
                     .bounds = bounds_,
                     .topInset = topInset_,
                     .notchGap = notchGap_,
                     .status = status_.has_value(),
                     .draggable = draggable_,
                     .hasTitleBar = hasTitleBar_,
                     .panels = theme_.panel.has_value(),
                     .meter = {},
                     .meterNaturalWidth = 0.0,
                     .meterColumns = 0,
                     .scrollOffset = layout_.scrollOffset};
}

LoudnessReading BarView::readingFor(ColorArea area, const LoudnessReading& current) {
    if (!pointer.frozen(area)) return current;
    if (!pointer.frozenReading) pointer.frozenReading = current;
    return *pointer.frozenReading;
}

Frame BarView::frameFor(ColorArea area, const LoudnessReading& current) {
    const bool hasSet = liveSet_.has_value();
    return Frame{.area = area,
                 .theme = areaTheme(area),
                 .barTheme = theme_,
                 .settings = settings_,
                 .pointer = pointer,
                 .gradients = gradients_,
                 .bounds = bounds_,
                 .scale = scale_,
                 .now = clock_.now(),
                 .reading = readingFor(area, current),
                 .peaks = &meter_.peaks(),
                 .scope = source_ ? source_->scope() : nullptr,
                 .loudness = source_ ? source_->loudnessMeter() : nullptr,
                 .spectrogram = source_ ? source_->spectrogram() : nullptr,
                 .spectrum = spectrum_.get(),
                 .sync = sync_,
                 .liveSet = hasSet ? &*liveSet_ : nullptr};
}

void BarView::drawFrame(Canvas& canvas) {
    if (areaThemes_.empty()) rebuildAreaThemes();
    const Rect bounds = boundsRect(bounds_);
    canvas.replace(bounds, theme_.background);
    static_cast<Zones&>(layout_).clear();
    layout_.statusRect.reset();

    RowInputs in = rowInputs();
    const Rect content = rowContent(in);
    const double grip = draggable_ ? kGripWidth : 0.0;
    if (draggable_) drawGrip(Rect{content.minX(), content.minY(), grip, content.height}, canvas);

    // The meter is measured first: the row is laid out around its width.
    const LoudnessReading current = source_ ? source_->reading() : LoudnessReading{};
    if (!pointer.frozen(ColorArea::meter)) {
        constexpr double kNothing = -std::numeric_limits<double>::infinity();
        meter_.updatePeaks(source_ ? source_->takePeaks() : PeakLevels{kNothing, kNothing}, clock_.now());
    }
    const LoudnessDisplay::Measure& measured =
        meter_.prepare(readingFor(ColorArea::meter, current), settings_, areaTheme(ColorArea::meter), content.height,
                       content.width - grip - 20.0, notchGap_.has_value(), texts_);
    in.meter = measured.choice;
    in.meterNaturalWidth = measured.metrics.totalWidth;
    in.meterColumns = measured.columns;
    layoutRow(in, layout_);
    layout_.meter = measured.choice;
    layout_.metrics = measured.metrics;
    meter_.setSpread(layout_.meterSpreadNow);

    if (!status_) {
        drawRow(current, canvas);
    } else {
        drawStatus(current, canvas);
    }
    finishDrawing(canvas);
}

// ---- Module row ------------------------------------------------------------

void BarView::drawModule(const PlacedModule& module, const LoudnessReading& reading, Canvas& canvas) {
    const Frame frame = frameFor(module.area, reading);
    if (module.panel) canvas.fillRoundedRect(module.shape, kPanelRadius, *frame.theme.panel);
    if (module.area == ColorArea::meter) {
        meter_.draw(canvas, module.shape, frame, layout_);
        return;
    }
    // A graph stays inside its panel.
    CanvasState state(canvas);
    if (module.panel) canvas.clip(Path::roundedRect(module.shape, kPanelRadius));
    graphs_[static_cast<std::size_t>(*graphKind(module.area))]->draw(canvas, module.shape, frame, layout_);
}

void BarView::drawRow(const LoudnessReading& reading, Canvas& canvas) {
    CanvasState state(canvas);
    canvas.clip(layout_.clip);
    const bool dividerActive = pointer.split2Hover || pointer.grab == Grab::split2;
    for (const PlacedModule& module : layout_.modules) {
        drawModule(module, reading, canvas);
        if (dividerActive && layout_.activeLine && layout_.activeLine->module == module.area) {
            const double x = module.rect.minX() + module.width - layout_.gap / 2.0;
            drawGrabLine(x, Rect{module.rect.minX(), module.rect.minY(), module.width, module.rect.height}, canvas);
        }
    }
    if (layout_.plusRect) drawAddButton(*layout_.plusRect, canvas);
    keepActiveLine();
}

void BarView::drawAddButton(const Rect& button, Canvas& canvas) {
    const Colour fill = theme_.panel ? theme_.panel->withAlpha(0.55) : theme_.separator;
    canvas.fillRoundedRect(button, 3.0, fill);
    const Point c{button.midX(), button.midY()};
    Path plus;
    plus.moveTo({c.x - 5.0, c.y}).lineTo({c.x + 5.0, c.y}).moveTo({c.x, c.y - 5.0}).lineTo({c.x, c.y + 5.0});
    canvas.stroke(plus, theme_.valueColor, 1.5, LineCap::round);
}

void BarView::keepActiveLine() {
    const std::vector<TrailingLine>& lines = layout_.trailingLines;
    if (!layout_.activeLine) return;
    if (std::find(lines.begin(), lines.end(), *layout_.activeLine) != lines.end()) return;
    const auto module = layout_.activeLine->module;
    const auto byModule =
        std::find_if(lines.begin(), lines.end(), [&](const TrailingLine& l) { return l.module == module; });
    if (byModule != lines.end()) {
        layout_.activeLine = *byModule;
    } else if (pointer.grab != Grab::split2) {
        layout_.activeLine.reset();
    }
}

void BarView::drawStatus(const LoudnessReading& reading, Canvas& canvas) {
    for (const PlacedModule& module : layout_.modules) drawModule(module, reading, canvas);
    const Size size = staticTextSize(*status_, statusFont());
    const Point at{layout_.startX + 4.0, layout_.content.midY() - size.height / 2.0};
    layout_.statusRect = Rect{at.x, at.y, size.width, size.height};
    canvas.drawText(*status_, statusFont(), theme_.statusColor, at);
}

// ---- Chrome and finishing --------------------------------------------------

int BarView::moduleDropIndex(double x, std::optional<ColorArea> excluding) const {
    int index = 0;
    for (ColorArea area : settings_.moduleOrderList()) {
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
            for (ColorArea area : settings_.moduleOrderList()) {
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
    std::array<std::pair<ColorArea, bool>, 2> titled{};
    std::size_t titles = 0;
    if (pointer.selectedArea) titled[titles++] = {*pointer.selectedArea, true};
    if (pointer.hoverArea && pointer.hoverArea != pointer.selectedArea) titled[titles++] = {*pointer.hoverArea, false};
    for (std::size_t i = 0; i < titles; ++i) {
        const auto [area, selected] = titled[i];
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
        bottom = rect.minY() + layout_.groundY + (hasTitleBar_ ? 1.0 : 0.0);
        top = rect.maxY() - layout_.groundY;
    }
    if (top <= bottom) return;
    canvas.fillRoundedRect(Rect{std::trunc(x - 1.0), bottom, 2.0, top - bottom}, 1.0, kHandleColour);
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
    const RowInputs in = rowInputs();
    const Rect content = rowContent(in);
    const double grip = draggable_ ? kGripWidth : 0.0;
    const LoudnessReading reading = source_ ? source_->reading() : LoudnessReading{};
    const LoudnessDisplay::Measure measured =
        meter_.measure(reading, settings_, areaTheme(ColorArea::meter), content.height, bounds_.width - grip - 20.0,
                       notchGap_.has_value(), texts_);
    // The meter's width in the row: its readouts and, unless the user sizes
    // it, the gap after it; nothing without readouts.
    const bool resizable = measured.choice.layout == MeterLayout::dashboard ||
                           measured.choice.layout == MeterLayout::horizontalDashboard;
    double meter = measured.columns == 0 ? 0.0 : measured.metrics.totalWidth;
    if (meter > 0.0 && !resizable) meter += in.panels ? kGround : kBareModuleGap;
    return minimumRowWidth(settings_, draggable_, rowMargin(in.panels, in.hasTitleBar), meter);
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
    std::optional<double> last;
    if (sync_ != nullptr) {
        std::scoped_lock lock(sync_->lock());
        last = sync_->stateLocked().lastMessage;
    } else if (transportLastMessage) {
        last = transportLastMessage();
    }
    return last && now - *last < 1.5;
}

}  // namespace crestline
