#include "bar/canvas.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cmath>

#include "bar/text_cache.h"

namespace crestline {

namespace {

QPointF q(Point p) { return {p.x, p.y}; }
QRectF q(const Rect& r) { return {r.x, r.y, r.width, r.height}; }

Qt::PenCapStyle capStyle(LineCap cap) {
    switch (cap) {
        case LineCap::butt: return Qt::FlatCap;
        case LineCap::round: return Qt::RoundCap;
        case LineCap::square: return Qt::SquareCap;
    }
    return Qt::FlatCap;
}

}  // namespace

Path& Path::moveTo(Point p) {
    path_.moveTo(q(p));
    return *this;
}
Path& Path::lineTo(Point p) {
    path_.lineTo(q(p));
    return *this;
}
Path& Path::curveTo(Point control1, Point control2, Point end) {
    path_.cubicTo(q(control1), q(control2), q(end));
    return *this;
}
Path& Path::close() {
    path_.closeSubpath();
    return *this;
}
Path& Path::addRect(const Rect& r) {
    path_.addRect(q(r));
    return *this;
}
Path& Path::addRoundedRect(const Rect& r, double radius) {
    // Like the platform's rounded rectangles: the radius never exceeds half
    // a side.
    const double limit = std::max(0.0, std::min(r.width, r.height) / 2.0);
    const double clamped = std::clamp(radius, 0.0, limit);
    if (clamped <= 0.0) {
        path_.addRect(q(r));
    } else {
        path_.addRoundedRect(q(r), clamped, clamped);
    }
    return *this;
}
Path& Path::addEllipse(const Rect& r) {
    path_.addEllipse(q(r));
    return *this;
}
Path& Path::clear() {
    path_.clear();
    return *this;
}
bool Path::contains(Point p) const { return path_.contains(q(p)); }
Rect Path::bounds() const {
    const QRectF b = path_.boundingRect();
    return {b.x(), b.y(), b.width(), b.height()};
}

Gradient::Gradient(std::initializer_list<std::pair<double, Colour>> stops) {
    for (const auto& [at, colour] : stops) stops_.append({at, colour.toQColor()});
}

Canvas::Canvas(QPainter& painter, double height, double scale, TextCache& texts)
    : painter_(painter), height_(height), scale_(scale), texts_(texts) {
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.translate(0.0, height);
    painter_.scale(1.0, -1.0);
}

void Canvas::save() { painter_.save(); }
void Canvas::restore() { painter_.restore(); }

// Qt's raster engine hands any fill of more than about 96 spans (one or
// more a device row) to its thread pool in segments. For the bar's shapes
// (scale lines, dividers, vertical bars, panels) the hand-off costs several
// times the fill, and far more on a busy machine; bands of fewer rows stay
// on the painting thread. Band edges fall on whole device rows, so
// antialiasing leaves no seam.
template <typename Draw>
void Canvas::inBands(const Rect& r, Draw draw, double bandRows) {
    const double kBandRows = bandRows;
    const double rows = r.height * scale_;
    if (!(rows > kBandRows) || !(scale_ > 0.0)) {
        draw(r);
        return;
    }
    double y = r.minY();
    while (y < r.maxY()) {
        double next = std::floor((y * scale_ + kBandRows)) / scale_;
        if (next <= y) next = y + kBandRows / scale_;
        next = std::min(next, r.maxY());
        draw(Rect{r.minX(), y, r.width, next - y});
        y = next;
    }
}

void Canvas::fill(const Rect& r, const Colour& c) {
    if (r.isEmpty()) return;
    const QColor colour = c.toQColor();
    inBands(r, [&](const Rect& band) { painter_.fillRect(q(band), colour); });
}

void Canvas::replace(const Rect& r, const Colour& c) {
    if (r.isEmpty()) return;
    const QPainter::CompositionMode mode = painter_.compositionMode();
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    fill(r, c);
    painter_.setCompositionMode(mode);
}

// An antialiased outline gives up to three spans a row, so paths are banded
// more finely than rectangles; each band clips the same path.
template <typename Draw>
void Canvas::inPathBands(const Rect& bounds, Draw draw) {
    if (bounds.height * scale_ <= kPathBandRows) {
        draw();
        return;
    }
    inBands(
        bounds,
        [&](const Rect& band) {
            painter_.save();
            painter_.setClipRect(q(band), Qt::IntersectClip);
            draw();
            painter_.restore();
        },
        kPathBandRows);
}

void Canvas::fill(const Path& p, const Colour& c) {
    if (p.isEmpty()) return;
    const QColor colour = c.toQColor();
    inPathBands(p.bounds(), [&] { painter_.fillPath(p.qt(), colour); });
}

void Canvas::stroke(const Path& p, const Colour& c, double width, LineCap cap) {
    if (p.isEmpty() || !(width > 0.0)) return;
    const QPen pen(c.toQColor(), width, Qt::SolidLine, capStyle(cap), Qt::MiterJoin);
    inPathBands(p.bounds().insetBy(-width, -width), [&] { painter_.strokePath(p.qt(), pen); });
}

void Canvas::fillRoundedRect(const Rect& r, double radius, const Colour& c) {
    if (r.isEmpty()) return;
    const double rounding = std::clamp(radius, 0.0, std::min(r.width, r.height) / 2.0);
    if (r.height * scale_ <= kPathBandRows || rounding <= 0.0) {
        fill(Path::roundedRect(r, rounding), c);
        return;
    }
    // Two short caps carry the corners; the straight middle is a rectangle.
    // The seams lie on whole device rows.
    const double top = std::floor((r.maxY() - rounding) * scale_) / scale_;
    const double bottom = std::ceil((r.minY() + rounding) * scale_) / scale_;
    const QColor colour = c.toQColor();
    painter_.save();
    painter_.setClipRect(QRectF(r.minX() - 1.0, top, r.width + 2.0, r.maxY() - top + 1.0), Qt::IntersectClip);
    painter_.fillPath(Path::roundedRect(Rect{r.minX(), top - rounding, r.width, r.maxY() - top + rounding}, rounding).qt(),
                      colour);
    painter_.restore();
    painter_.save();
    painter_.setClipRect(QRectF(r.minX() - 1.0, r.minY() - 1.0, r.width + 2.0, bottom - r.minY() + 1.0),
                         Qt::IntersectClip);
    painter_.fillPath(Path::roundedRect(Rect{r.minX(), r.minY(), r.width, bottom - r.minY() + rounding}, rounding).qt(),
                      colour);
    painter_.restore();
    if (top > bottom) fill(Rect{r.minX(), bottom, r.width, top - bottom}, c);
}

void Canvas::fill(const Path& area, const Gradient& g, Point from, Point to) {
    if (area.isEmpty()) return;
    QLinearGradient gradient(q(from), q(to));
    gradient.setStops(g.stops());
    gradient.setSpread(QGradient::PadSpread);
    painter_.fillPath(area.qt(), QBrush(gradient));
}

void Canvas::fill(const Rect& area, const Gradient& g, Point from, Point to) {
    if (area.isEmpty()) return;
    QLinearGradient gradient(q(from), q(to));
    gradient.setStops(g.stops());
    gradient.setSpread(QGradient::PadSpread);
    const QBrush brush(gradient);
    inBands(area, [&](const Rect& band) { painter_.fillRect(q(band), brush); });
}

void Canvas::clip(const Rect& r) { painter_.setClipRect(q(r), Qt::IntersectClip); }
void Canvas::clip(const Path& p) { painter_.setClipPath(p.qt(), Qt::IntersectClip); }

void Canvas::draw(const QImage& image, const Rect& r, bool smooth) {
    if (image.isNull() || r.isEmpty()) return;
    // The painter is flipped; flip back locally so the picture stands upright.
    // The two things changed are put back by hand: save() and restore()
    // allocate a painter state each, and every text goes through here.
    const QTransform transform = painter_.worldTransform();
    const bool wasSmooth = painter_.testRenderHint(QPainter::SmoothPixmapTransform);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter_.translate(r.x, r.y + r.height);
    painter_.scale(1.0, -1.0);
    painter_.drawImage(QRectF(0.0, 0.0, r.width, r.height), image);
    painter_.setWorldTransform(transform);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, wasSmooth);
}

Size Canvas::textSize(std::string_view text, const Font& font) { return texts_.size(text, font); }

void Canvas::drawText(std::string_view text, const Font& font, const Colour& colour, Point at) {
    if (text.empty() || !std::isfinite(at.x) || !std::isfinite(at.y)) return;
    const QImage& image = texts_.image(text, font, colour, scale_);
    const double ratio = image.devicePixelRatio();
    const Rect box{std::round(at.x * scale_) / scale_, std::round(at.y * scale_) / scale_,
                   image.width() / ratio, image.height() / ratio};
    draw(image, box, false);
}

}  // namespace crestline
