// The bar's fonts. `LiveFont::toolbar(size, bold)` is the toolbar font of the
// design: medium weight (semibold when bold) with tabular digits, so numbers
// do not jitter as they change. Qt 6.4 cannot switch OpenType features on, so
// text is shaped with HarfBuzz (feature "tnum") and drawn as a glyph run of
// the same font file. Fonts are cached by (size in hundredths, bold) for the
// whole process; any thread may ask, drawing happens on the caller's thread.
// Needs a QGuiApplication.
#pragma once

#include <QGlyphRun>
#include <QRawFont>
#include <memory>
#include <string_view>

#include "bar/geometry.h"

class QPainter;
class QColor;

namespace crestline {

struct Typeface;

class Font {
public:
    Font() = default;

    double size() const { return size_; }
    bool bold() const { return bold_; }
    bool tabular() const { return tabular_; }
    // Identity for caches: equal keys draw identically.
    int key() const { return key_; }

    // Vertical metrics in points; `descent` is positive (below the baseline).
    double ascent() const;
    double descent() const;
    double lineHeight() const { return ascent() + descent(); }

    double width(std::string_view utf8) const;
    // Width by the advances and the line height: the box the text is drawn in.
    Size measure(std::string_view utf8) const;
    // Draws with the baseline's left end at `baseline`, in the painter's
    // current (unflipped) coordinates.
    void draw(QPainter& painter, QPointF baseline, std::string_view utf8, const QColor& colour) const;

    bool operator==(const Font& other) const { return key_ == other.key_; }

private:
    friend struct LiveFont;
    // Shapes the text; returns its advance and fills `run` when given.
    double shape(std::string_view utf8, QGlyphRun* run) const;

    std::shared_ptr<const Typeface> face_;
    QRawFont raw_;  // at `size_` pixels, one pixel being one point
    double size_ = 0.0;
    bool bold_ = false;
    bool tabular_ = false;
    int key_ = 0;
};

struct LiveFont {
    static constexpr double toolbarSize = 10.0;
    // Medium, or semibold when `bold`, with tabular digits.
    static Font toolbar(double size, bool bold = false);
    // The plain system font (medium weight, proportional digits): status text.
    static Font system(double size);
};

}  // namespace crestline
