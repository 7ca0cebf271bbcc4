#include "bar/bar_pointer.h"

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <string>

#include "settings/settings.h"

namespace crestline {

namespace {

// The store keeps widths up to this; a wider bar still clamps its modules.
constexpr double kMaxStoredWidth = 16384.0;
constexpr double kMaxStoredWeight = 1000.0;
constexpr double kMinStoredWeight = 0.001;
constexpr double kTitleBarMinimumWidth = 60.0;
constexpr double kTitleBarMinimumHeight = 20.0;
// A timer may fire a hair before the clock says the rest is over.
constexpr double kHintSlackSeconds = 0.002;

bool contains(const std::optional<Rect>& rect, Point p) { return rect && rect->contains(p); }

// The title bar's height on a module shape (as drawn by the view).
double titleBarHeight(const Rect& shape) {
    if (shape.height >= 30.0) return 16.0;
    return std::max(11.0, std::min(std::floor(shape.height / 2.0), 16.0));
}

template <typename T>
bool assign(T& field, const T& value) {
    if (field == value) return false;
    field = value;
    return true;
}

}  // namespace

BarPointer::BarPointer(BarView& view, PointerHost& host) : view_(view), host_(host) {}

BarPointer::~BarPointer() { menu_.reset(); }

// ---- Geometry ------------------------------------------------------------------

Point BarPointer::unmapNotch(Point at) const {
    const auto& notch = view_.notchGap();
    if (!notch || view_.status()) return at;
    const double split = notch->lower - kNotchMargin;
    if (at.x < split) return at;
    return {std::max(at.x - (notch->width() + 2.0 * kNotchMargin), split), at.y};
}

Point BarPointer::mapNotch(Point at) const {
    const auto& notch = view_.notchGap();
    if (!notch || view_.status()) return at;
    if (at.x < notch->lower - kNotchMargin) return at;
    return {at.x + notch->width() + 2.0 * kNotchMargin, at.y};
}

bool BarPointer::heightHandleAt(Point p) const {
    return view_.heightHandle() && view_.onHeightDrag && p.y >= 0.0 && p.y < BarView::kBottomEdge;
}

std::optional<Grab> BarPointer::sideEdge(Point p) const {
    if (!view_.isDraggable()) return std::nullopt;
    if (p.x < BarView::kEdgeWidth) return Grab::left;
    if (p.x >= view_.bounds().width - BarView::kEdgeWidth) return Grab::right;
    return std::nullopt;
}

const TrailingLine* BarPointer::lineAt(Point p) const {
    for (const TrailingLine& line : view_.layout().trailingLines) {
        if (line.rect.contains(p)) return &line;
    }
    return nullptr;
}

std::optional<ColorArea> BarPointer::headArea(Point p) const {
    if (view_.status()) return std::nullopt;
    for (const auto& [area, shape] : view_.layout().areaShapes) {
        if (shape.width < kTitleBarMinimumWidth || shape.height < kTitleBarMinimumHeight) continue;
        if (shape.contains(p) && p.y >= shape.maxY() - titleBarHeight(shape)) return area;
    }
    return std::nullopt;
}

std::optional<ColorArea> BarPointer::moduleAt(Point p) const {
    for (const auto& [area, shape] : view_.layout().areaShapes) {
        if (shape.contains(p)) return area;
    }
    return std::nullopt;
}

bool BarPointer::insideDropBounds(Point p) const {
    return p.y >= -kDropMargin && p.y < view_.bounds().height + kDropMargin;
}

PointerCursor BarPointer::hoverCursor(Point p) const {
    const BarLayout& layout = view_.layout();
    if (heightHandleAt(p)) return PointerCursor::resizeUpDown;
    if (sideEdge(p) || lineAt(p) || contains(layout.meterHandle, p) || contains(layout.splitHandle, p)) {
        return PointerCursor::resizeLeftRight;
    }
    if (headArea(p)) return PointerCursor::openHand;
    if (contains(layout.plusRect, p)) return PointerCursor::pointingHand;
    for (const auto& [rect, target] : layout.resetZones) {
        if (rect.contains(p)) return PointerCursor::pointingHand;
    }
    return PointerCursor::arrow;
}

void BarPointer::setCursor(PointerCursor cursor) {
    if (cursor == cursor_) return;
    cursor_ = cursor;
    host_.setCursor(cursor);
}

// ---- Press -----------------------------------------------------------------------

void BarPointer::press(const Event& event) {
    const Point p = unmapNotch(event.at);
    if (view_.onClicked) view_.onClicked();
    cancelHint();
    endSpectrumGrab(false);

    PointerState& state = view_.pointer;
    Settings& settings = view_.settings();
    const BarLayout& layout = view_.layout();
    const bool twice = event.clicks >= 2;
    grabMouse_ = event.desktop;
    lastDragHeight_.reset();

    if (heightHandleAt(p)) {
        state.grab = Grab::height;
        grabHeight_ = view_.bounds().height - view_.topInset();
        setCursor(PointerCursor::resizeUpDown);
        host_.redraw();
        return;
    }
    if (contains(layout.meterHandle, p)) {
        if (twice) {
            settings.setMeterWidth(std::nullopt);
        } else {
            state.grab = Grab::meter;
            setCursor(PointerCursor::closedHand);
        }
        host_.redraw();
        return;
    }
    if (const TrailingLine* hit = lineAt(p)) {
        const TrailingLine line = *hit;
        view_.setActiveLine(line);
        if (!line.module) {
            // A legacy pair of slots shares its width by weights.
            if (twice) {
                settings.remove("windowWeight" + std::to_string(line.left));
                settings.remove("windowWeight" + std::to_string(line.right));
            } else {
                state.grab = Grab::split2;
                setCursor(PointerCursor::closedHand);
            }
        } else if (twice) {
            // Back to the automatic width, or the meter to its natural spacing.
            if (line.spreadGaps == 0) {
                settings.setModuleWidth(*line.module, std::nullopt);
            } else {
                settings.setMeterSpread(std::nullopt);
            }
        } else {
            // Every module keeps the width it has now, so that only the
            // dragged one changes.
            for (const auto& [area, width] : layout.rowWidths) {
                if (!settings.moduleWidth(area)) settings.setModuleWidth(area, std::clamp(width, 1.0, kMaxStoredWidth));
            }
            state.grab = Grab::split2;
            setCursor(PointerCursor::resizeLeftRight);
        }
        host_.redraw();
        return;
    }
    if (contains(layout.splitHandle, p)) {
        if (twice) {
            settings.setGraphSplit(std::nullopt);
        } else {
            state.grab = Grab::split;
        }
        host_.redraw();
        return;
    }
    // Title bars, the last drawn first.
    for (auto zone = layout.editZones.rbegin(); zone != layout.editZones.rend(); ++zone) {
        if (!zone->first.contains(p)) continue;
        const Rect rect = zone->first;
        const EditTarget target = zone->second;
        select(target.area);
        if (target.kind == EditTarget::Kind::options) {
            popUp(view_.moduleMenu ? view_.moduleMenu(target.area) : nullptr, {rect.minX(), rect.minY()}, target.area);
        } else {
            state.editDrag = PointerState::ModuleDrag{target.area, p.x, p.y};
            setCursor(PointerCursor::closedHand);
            host_.redraw();
        }
        return;
    }
    if (contains(layout.plusRect, p)) {
        const Rect button = *layout.plusRect;
        popUp(view_.addMenu ? view_.addMenu() : nullptr, {button.minX(), button.minY()}, std::nullopt);
        return;
    }
    if (!moduleAt(p)) select(std::nullopt);

    for (const auto& [rect, target] : layout.resetZones) {
        if (!rect.contains(p)) continue;
        const bool viewTarget =
            target.kind == ResetTarget::Kind::graphView || target.kind == ResetTarget::Kind::historyView;
        if (viewTarget && view_.isDraggable()) {
            // A floating strip moves by its body: the click counts only
            // when the window stayed where it was.
            pendingReset_ = target;
            windowDrag_ = true;
            windowMoved_ = false;
            grabFrame_ = host_.windowFrame();
            return;
        }
        if (view_.onReset) view_.onReset(target);
        host_.redraw();
        return;
    }
    if (view_.isDraggable()) {
        grabFrame_ = host_.windowFrame();
        if (const auto edge = sideEdge(p)) {
            state.grab = *edge;
            setCursor(PointerCursor::resizeLeftRight);
            host_.redraw();
        } else {
            windowDrag_ = true;
            windowMoved_ = false;
        }
    }
}

void BarPointer::select(std::optional<ColorArea> area) {
    PointerState& state = view_.pointer;
    if (state.selectedArea == area) return;
    state.selectedArea = area;
    host_.redraw();
    if (view_.onSelectionChanged) view_.onSelectionChanged(area);
}

void BarPointer::popUp(std::unique_ptr<BarMenu> menu, Point at, std::optional<ColorArea> highlight) {
    if (!menu) return;
    if (menu_) menu_->close();
    cancelHint();
    menu_ = std::move(menu);
    view_.pointer.menuHighlight = highlight;
    setCursor(PointerCursor::arrow);
    host_.redraw();
    const QPointF topLeft = host_.toDesktop(mapNotch(at));
    menu_->popUp(topLeft.toPoint(), view_.barTheme(), [this] {
        view_.pointer.menuHighlight.reset();
        host_.redraw();
    });
}

// ---- Drag --------------------------------------------------------------------------

void BarPointer::drag(const Event& event) {
    const Point p = unmapNotch(event.at);
    PointerState& state = view_.pointer;
    const BarLayout& layout = view_.layout();
    Settings& settings = view_.settings();

    if (state.editDrag) {
        state.editDrag->x = p.x;
        state.editDrag->y = p.y;
        setCursor(insideDropBounds(p) ? PointerCursor::closedHand : PointerCursor::disappearingItem);
        host_.redraw();
        return;
    }
    if (windowDrag_) {
        const QPointF delta = event.desktop - grabMouse_;
        if (delta.isNull()) return;
        windowMoved_ = true;
        host_.setWindowFrame(grabFrame_.translated(delta));
        return;
    }
    if (!state.grab) return;
    switch (*state.grab) {
        case Grab::split2:
            if (layout.activeLine) dragDivider(*layout.activeLine, p.x);
            break;
        case Grab::split: {
            const double span = layout.graphSpan.width;
            if (span > kMinimumPairWidth) {
                const double at = p.x - layout.graphSpan.minX + layout.gap / 2.0;
                settings.setGraphSplit(std::clamp(at, kMinimumShare, span - kMinimumShare) / span);
            }
            break;
        }
        case Grab::meter: {
            double width = layout.meterSpan.lineOnLeft ? layout.meterSpan.maxX - p.x : p.x - layout.meterSpan.minX;
            const auto [low, high] = layout.meterLimits;
            width = std::max(low, std::min(width, high));
            width = std::clamp(std::trunc(width), 1.0, kMaxStoredWidth);
            settings.setMeterWidth(width);
            break;
        }
        case Grab::height: {
            const double height = std::clamp(grabHeight_ + (event.desktop.y() - grabMouse_.y()),
                                              BarView::kMinimumHeight, BarView::kMaximumHeight);
            lastDragHeight_ = height;
            if (view_.onHeightDrag) view_.onHeightDrag(height, false);
            break;
        }
        case Grab::left:
        case Grab::right: {
            const double dx = event.desktop.x() - grabMouse_.x();
            // The floating sizes the store keeps: at least the bar's minimum,
            // at most 16384 points.
            const double minimum = std::min(view_.minimumWidth(), kMaxStoredWidth);
            QRectF frame = grabFrame_;
            if (*state.grab == Grab::left) {
                const double width = std::clamp(grabFrame_.width() - dx, minimum, kMaxStoredWidth);
                frame = {grabFrame_.right() - width, grabFrame_.y(), width, grabFrame_.height()};
            } else {
                frame.setWidth(std::clamp(grabFrame_.width() + dx, minimum, kMaxStoredWidth));
            }
            host_.setWindowFrame(frame);
            break;
        }
    }
    host_.redraw();
}

void BarPointer::dragDivider(const TrailingLine& line, double x) {
    Settings& settings = view_.settings();
    const BarLayout& layout = view_.layout();
    const double at = x - line.pairMinX + layout.gap / 2.0;
    if (!line.module) {
        if (!(line.pairWidth > kMinimumPairWidth)) return;
        const double share = std::clamp(at, kMinimumShare, line.pairWidth - kMinimumShare) / line.pairWidth;
        const double total = settings.windowWeight(line.left) + settings.windowWeight(line.right);
        const auto weight = [](double w) { return std::clamp(w, kMinStoredWeight, kMaxStoredWeight); };
        settings.setNumber("windowWeight" + std::to_string(line.left), weight(total * share));
        settings.setNumber("windowWeight" + std::to_string(line.right), weight(total * (1.0 - share)));
        return;
    }
    const double width = std::max(line.minimum, std::min(std::trunc(at), layout.moduleWidthLimit));
    if (line.spreadGaps == 0) {
        settings.setModuleWidth(*line.module, std::clamp(width, 1.0, kMaxStoredWidth));
        return;
    }
    const double spread = std::min((width - line.minimum) / line.spreadGaps, BarView::kMaximumSpread);
    if (spread >= 1.0) {
        settings.setMeterSpread(std::trunc(spread));
    } else {
        settings.setMeterSpread(std::nullopt);
    }
}

// ---- Release -------------------------------------------------------------------------

void BarPointer::release(const Event& event) {
    const Point p = unmapNotch(event.at);
    PointerState& state = view_.pointer;

    if (state.editDrag) {
        const ColorArea area = state.editDrag->area;
        state.editDrag.reset();
        if (!insideDropBounds(p)) {
            host_.poof(event.desktop);
            setCursor(PointerCursor::arrow);
            if (view_.onLayoutHide) view_.onLayoutHide(area);
        } else {
            setCursor(hoverCursor(p));
            if (view_.onLayoutMove) view_.onLayoutMove(area, view_.moduleDropIndex(p.x, area));
        }
        host_.redraw();
        return;
    }
    if (windowDrag_) {
        windowDrag_ = false;
        const auto target = std::exchange(pendingReset_, std::nullopt);
        if (target && !windowMoved_ && view_.onReset) view_.onReset(*target);
        return;
    }
    if (!state.grab) return;
    const Grab grab = *state.grab;
    state.grab.reset();
    switch (grab) {
        case Grab::left:
        case Grab::right:
            if (view_.onFrameChanged) view_.onFrameChanged();
            break;
        case Grab::height: {
            // The window may not have taken the last height yet (X11 resizes
            // later): the height asked for last is the one the drag ends at.
            const double height = lastDragHeight_.value_or(view_.bounds().height - view_.topInset());
            if (view_.onHeightDrag) view_.onHeightDrag(height, true);
            state.heightHover = heightHandleAt(p);
            break;
        }
        case Grab::split:
        case Grab::split2:
        case Grab::meter: {
            splitHover_ = contains(view_.layout().splitHandle, p);
            const TrailingLine* line = lineAt(p);
            state.split2Hover = line != nullptr;
            if (line) view_.setActiveLine(*line);
            state.meterHover = contains(view_.layout().meterHandle, p);
            break;
        }
    }
    lastDragHeight_.reset();
    setCursor(hoverCursor(p));
    host_.redraw();
}

// ---- Move and leave --------------------------------------------------------------------

void BarPointer::move(const Event& event) {
    const Point p = unmapNotch(event.at);
    PointerState& state = view_.pointer;
    const BarLayout& layout = view_.layout();
    Settings& settings = view_.settings();
    bool changed = assign(pointerInside_, true);

    changed |= assign(state.heightHover, heightHandleAt(p));
    changed |= assign(state.edgeHover, sideEdge(p));

    const TrailingLine* line = lineAt(p);
    if (line && state.grab != Grab::split2 && layout.activeLine != *line) {
        view_.setActiveLine(*line);
        changed = true;
    }
    changed |= assign(state.split2Hover, line != nullptr);
    changed |= assign(splitHover_, contains(layout.splitHandle, p));
    changed |= assign(state.meterHover, contains(layout.meterHandle, p));
    changed |= assign(state.hoverArea, headArea(p));
    setCursor(hoverCursor(p));

    const auto inside = [&](const std::optional<Rect>& field) -> std::optional<double> {
        if (contains(field, p)) return p.x;
        return std::nullopt;
    };
    changed |= assign(state.historyPointerX, inside(layout.historyField));
    changed |= assign(state.grabPointerX, inside(layout.spectrumField));

    freezeUnder(p);
    const bool hold = settings.spectrumPeakHold() && !settings.freezeOnHover(ColorArea::spectrum) &&
                      contains(layout.spectrumField, p);
    if (hold) {
        changed |= assign(state.spectrumGrabbed, true);
    } else if (state.spectrumGrabbed) {
        // The hold ends; a module frozen under the pointer stays frozen.
        endSpectrumGrab(true);
    }
    trackHint(p);
    if (changed) host_.redraw();
}

void BarPointer::freezeUnder(Point p) {
    PointerState& state = view_.pointer;
    const auto area = moduleAt(p);
    if (area && view_.settings().freezeOnHover(*area)) {
        if (state.frozenArea == area) return;
        state.frozenArea = area;
        state.frozenAt = view_.clock().now();
        state.frozenReading.reset();
        host_.redraw();
        return;
    }
    if (state.frozenArea) unfreeze();
}

void BarPointer::unfreeze() {
    PointerState& state = view_.pointer;
    state.frozenArea.reset();
    state.frozenAt = view_.clock().now();
    state.frozenReading.reset();
    host_.redraw();
}

void BarPointer::endSpectrumGrab(bool keepFrozen) {
    PointerState& state = view_.pointer;
    if (!keepFrozen && state.frozenArea) unfreeze();
    if (state.spectrumGrabbed) {
        state.spectrumGrabbed = false;
        host_.redraw();
    }
}

void BarPointer::leave() {
    PointerState& state = view_.pointer;
    const std::optional<Grab> grab = state.grab;
    bool changed = assign(pointerInside_, false);
    changed |= assign(state.grabPointerX, std::optional<double>());
    changed |= assign(state.historyPointerX, std::optional<double>());
    changed |= assign(state.hoverArea, std::optional<ColorArea>());
    if (grab != Grab::left && grab != Grab::right) changed |= assign(state.edgeHover, std::optional<Grab>());
    cancelHint();
    endSpectrumGrab(false);
    if (grab != Grab::height) changed |= assign(state.heightHover, false);
    if (grab != Grab::split) changed |= assign(splitHover_, false);
    if (grab != Grab::split2) changed |= assign(state.split2Hover, false);
    if (grab != Grab::meter) changed |= assign(state.meterHover, false);
    if (!grab && !state.editDrag) setCursor(PointerCursor::arrow);
    if (changed) host_.redraw();
}

void BarPointer::leftWindow() {
    cancelHint();
    if (menu_) menu_->close();
}

// ---- Context menu and keys ------------------------------------------------------------

bool BarPointer::contextMenu(const Event& event) {
    const Point p = unmapNotch(event.at);
    if (view_.onClicked) view_.onClicked();
    cancelHint();
    const auto area = moduleAt(p);
    contextArea_ = area;
    if (!area || !view_.moduleMenu) return false;
    std::unique_ptr<BarMenu> menu = view_.moduleMenu(*area);
    if (!menu) return false;
    if (!view_.status() && headArea(p) == area) select(area);
    popUp(std::move(menu), p, area);
    return true;
}

bool BarPointer::key(int qtKey) {
    PointerState& state = view_.pointer;
    if (!state.selectedArea) return false;
    const ColorArea area = *state.selectedArea;
    select(std::nullopt);
    if (qtKey == Qt::Key_Delete || qtKey == Qt::Key_Backspace) {
        if (view_.onLayoutHide) view_.onLayoutHide(area);
        return true;
    }
    // Any other key only takes the selection away; the key itself goes on
    // (the pinned bar hands typing on to Live).
    return false;
}

// ---- Hints -----------------------------------------------------------------------------

void BarPointer::trackHint(Point p) {
    std::optional<Hint> under;
    for (const auto& [rect, hint] : view_.layout().hintZones) {
        if (rect.contains(p)) under = hint;  // later zones win
    }
    if (shownHint_) {
        host_.hideHint();
        shownHint_.reset();
    }
    if (hintDueAt_) {
        hintDueAt_.reset();
        host_.stopHintTimer();
    }
    pendingHint_ = under;
    if (under && view_.settings().showHints()) {
        hintDueAt_ = view_.clock().now() + kHintDelaySeconds;
        host_.startHintTimer(kHintDelaySeconds);
    }
}

void BarPointer::cancelHint() {
    if (hintDueAt_) host_.stopHintTimer();
    hintDueAt_.reset();
    pendingHint_.reset();
    if (shownHint_) host_.hideHint();
    shownHint_.reset();
}

void BarPointer::hintTimerFired() {
    if (!hintDueAt_ || !pendingHint_) return;
    const double rest = *hintDueAt_ - view_.clock().now();
    if (rest > kHintSlackSeconds) {
        host_.startHintTimer(rest);
        return;
    }
    hintDueAt_.reset();
    const bool anyMenu = menuOpen() || QApplication::activePopupWidget() != nullptr ||
                         (view_.applicationMenuOpen && view_.applicationMenuOpen());
    if (anyMenu || !view_.settings().showHints()) return;
    const QPointF at = host_.pointerPosition();
    const auto visible = host_.visibleScreenFrame(at);
    if (!visible) return;
    host_.showHint(*pendingHint_, at, *visible);
    shownHint_ = pendingHint_;
}

}  // namespace crestline
