#include "bar/colour.h"

#include <QColor>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace crestline {

namespace {

bool unit(double v) { return std::isfinite(v) && v >= 0.0 && v <= 1.0; }

}  // namespace

bool Colour::isValid() const { return unit(red) && unit(green) && unit(blue) && unit(alpha); }

QColor Colour::toQColor() const {
    // Out-of-range or NaN components would make QColor invalid (drawn black);
    // clamp instead so a bad colour still draws something close.
    const auto c = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    return QColor::fromRgbF(static_cast<float>(c(red)), static_cast<float>(c(green)),
                            static_cast<float>(c(blue)), static_cast<float>(c(alpha)));
}

std::string Colour::key() const {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%.3f,%.3f,%.3f,%.3f", red, green, blue, alpha);
    return buffer;
}

double srgbToLinear(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double srgbToGamma18(double c) { return std::pow(srgbToLinear(c), 0.5555555555555556); }

}  // namespace crestline
