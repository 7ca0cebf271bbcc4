// Colours of the bar: sRGB components with alpha, all in 0...1. The same value
// serves as drawing colour and as text colour; the two forms of the platform
// the design was made on collapse into one here.
#pragma once

#include <string>

class QColor;

namespace crestline {

struct Colour {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    static constexpr Colour white(double alpha = 1.0) { return {1.0, 1.0, 1.0, alpha}; }
    static constexpr Colour black(double alpha = 1.0) { return {0.0, 0.0, 0.0, alpha}; }
    static constexpr Colour clear() { return {0.0, 0.0, 0.0, 0.0}; }

    constexpr Colour withAlpha(double a) const { return {red, green, blue, a}; }
    // A colour whose components are all finite and in 0...1 (what a
    // conversion to the drawing layer accepts).
    bool isValid() const;
    QColor toQColor() const;
    // "%.3f" of red, green, blue, alpha joined with ","; the colour key of
    // tables built from theme colours.
    std::string key() const;

    bool operator==(const Colour&) const = default;
};

// Decodes one sRGB component (0...1) to linear light.
double srgbToLinear(double c);
// Re-encodes an sRGB component (0...1) from the sRGB curve to a pure 1.8
// gamma: linearise, then raise to 1/1.8. 0 and 1 stay exact.
double srgbToGamma18(double c);

}  // namespace crestline
