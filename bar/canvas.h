// A thin drawing surface over QPainter that speaks the bar's coordinates:
// points, origin bottom-left, y growing upwards. The same calls draw into a
// widget and offscreen into a QImage at any backing scale; the painter's
// device pixel ratio carries the scale. Text goes through a TextCache.
// One thread at a time (the painter's).
#pragma once

#include <QPainterPath>
#include <QGradientStops>
#include <string_view>

#include "bar/colour.h"
#include "bar/geometry.h"
#include "bar/live_font.h"

class QPainter;
class QImage;

namespace crestline {

class TextCache;

enum class LineCap { butt, round, square };

class Path {
public:
    Path& moveTo(Point p);
    Path& lineTo(Point p);
    Path& curveTo(Point control1, Point control2, Point end);
    Path& close();
    Path& addRect(const Rect& r);
    Path& addRoundedRect(const Rect& r, double radius);
    Path& addEllipse(const Rect& r);
    // Empties the path and keeps its memory, for paths rebuilt every frame.
    Path& clear();

    bool isEmpty() const { return path_.isEmpty(); }
    bool contains(Point p) const;
    Rect bounds() const;
    const QPainterPath& qt() const { return path_; }

    static Path rect(const Rect& r) { return Path().addRect(r); }
    static Path roundedRect(const Rect& r, double radius) { return Path().addRoundedRect(r, radius); }

private:
    QPainterPath path_;
};

// Colour stops from 0 to 1 along a line; made once, drawn many times.
class Gradient {
public:
    Gradient() = default;
    Gradient(std::initializer_list<std::pair<double, Colour>> stops);
    const QGradientStops& stops() const { return stops_; }

private:
    QGradientStops stops_;
};

class Canvas {
public:
    // `height` is the drawing's height in points (to flip y); `scale` the
    // backing scale (pixels per point) of the device behind the painter.
    Canvas(QPainter& painter, double height, double scale, TextCache& texts);
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    double scale() const { return scale_; }
    double height() const { return height_; }
    QPainter& painter() { return painter_; }
    TextCache& texts() { return texts_; }

    void save();
    void restore();

    void fill(const Rect& r, const Colour& c);
    // Replaces what is there (alpha included) instead of blending over it.
    void replace(const Rect& r, const Colour& c);
    void fill(const Path& p, const Colour& c);
    // The same as filling Path::roundedRect, cheaper for tall shapes.
    void fillRoundedRect(const Rect& r, double radius, const Colour& c);
    void stroke(const Path& p, const Colour& c, double width, LineCap cap = LineCap::butt);
    // Fills `area` with the gradient running from `from` to `to`; outside the
    // line the end colours continue.
    void fill(const Path& area, const Gradient& g, Point from, Point to);
    void fill(const Rect& area, const Gradient& g, Point from, Point to);
    void clip(const Rect& r);
    void clip(const Path& p);

    // Draws `image` upright into `r`; without `smooth` pixels are not
    // interpolated.
    void draw(const QImage& image, const Rect& r, bool smooth = true);

    Size textSize(std::string_view text, const Font& font);
    // Draws the text with the bottom-left of its box at `at`, through the
    // cache, snapped to whole device pixels.
    void drawText(std::string_view text, const Font& font, const Colour& colour, Point at);

private:
    // Calls `draw` for horizontal bands of `r` that each cover few enough
    // device rows to stay on this thread (see canvas.cpp).
    static constexpr double kRectBandRows = 88.0;
    static constexpr double kPathBandRows = 28.0;
    template <typename Draw>
    void inBands(const Rect& r, Draw draw, double bandRows = kRectBandRows);
    // Runs `draw` once, or once per clipped band for a tall path.
    template <typename Draw>
    void inPathBands(const Rect& bounds, Draw draw);

    QPainter& painter_;
    double height_;
    double scale_;
    TextCache& texts_;
};

// Saves the canvas state and restores it when the scope ends.
class CanvasState {
public:
    explicit CanvasState(Canvas& canvas) : canvas_(canvas) { canvas_.save(); }
    ~CanvasState() { canvas_.restore(); }
    CanvasState(const CanvasState&) = delete;
    CanvasState& operator=(const CanvasState&) = delete;

private:
    Canvas& canvas_;
};

}  // namespace crestline
