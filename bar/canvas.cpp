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

void Canvas::fill(const Rect& r, const Colour& c) {
    if (r.isEmpty()) return;
    painter_.fillRect(q(r), c.toQColor());
}

void Canvas::fill(const Path& p, const Colour& c) {
    if (p.isEmpty()) return;
    painter_.fillPath(p.qt(), c.toQColor());
}

void Canvas::stroke(const Path& p, const Colour& c, double width, LineCap cap) {
    if (p.isEmpty() || !(width > 0.0)) return;
    QPen pen(c.toQColor(), width, Qt::SolidLine, capStyle(cap), Qt::MiterJoin);
    painter_.strokePath(p.qt(), pen);
}

void Canvas::fill(const Path& area, const Gradient& g, Point from, Point to) {
    if (area.isEmpty()) return;
    QLinearGradient gradient(q(from), q(to));
    gradient.setStops(g.stops());
    gradient.setSpread(QGradient::PadSpread);
    painter_.fillPath(area.qt(), QBrush(gradient));
}

void Canvas::clip(const Rect& r) { painter_.setClipRect(q(r), Qt::IntersectClip); }
void Canvas::clip(const Path& p) { painter_.setClipPath(p.qt(), Qt::IntersectClip); }

void Canvas::draw(const QImage& image, const Rect& r, bool smooth) {
    if (image.isNull() || r.isEmpty()) return;
    // The painter is flipped; flip back locally so the picture stands upright.
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter_.translate(r.x, r.y + r.height);
    painter_.scale(1.0, -1.0);
    painter_.drawImage(QRectF(0.0, 0.0, r.width, r.height), image);
    painter_.restore();
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
