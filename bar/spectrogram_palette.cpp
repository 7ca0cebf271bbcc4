#include "bar/spectrogram_palette.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace crestline::SpectrogramPalette {

namespace {

struct Rgb3 {
    double r, g, b;
};

struct Stop {
    double position;
    Rgb3 colour;
};

Rgb3 rgb(const Colour& c) {
    if (!c.isValid()) return {0.0, 0.0, 0.0};
    return {c.red, c.green, c.blue};
}

Rgb3 mix(const Rgb3& a, const Rgb3& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

std::uint32_t pack(const Rgb3& c) {
    const auto byte = [](double v) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
    };
    return 0xFF000000u | byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

// The colour at t: between the first stop at or beyond t and the one before.
Rgb3 at(std::span<const Stop> stops, double t) {
    for (std::size_t i = 0; i < stops.size(); ++i) {
        if (stops[i].position < t) continue;
        if (i == 0) return stops[0].colour;
        const Stop& a = stops[i - 1];
        const Stop& b = stops[i];
        const double width = b.position - a.position;
        return mix(a.colour, b.colour, width > 0.0 ? (t - a.position) / width : 1.0);
    }
    return stops.back().colour;
}

Table levelTable(std::span<const Stop> stops, SpectrogramRange range) {
    const Span s = span(range);
    Table table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double level = static_cast<double>(i) * 0.5 - 120.0;
        table[i] = pack(at(stops, std::clamp((level - s.floor) / (s.top - s.floor), 0.0, 1.0)));
    }
    return table;
}

constexpr Rgb3 kWhite{1.0, 1.0, 1.0};

}  // namespace

Span span(SpectrogramRange range) {
    switch (range) {
        case SpectrogramRange::wide: return {-120.0, 0.0};
        case SpectrogramRange::tight: return {-60.0, -12.0};
        case SpectrogramRange::normal: break;
    }
    return {-90.0, -12.0};
}

// A translucent colour as it shows over `under`: the scope theme's track
// is a faint white over a dark bar, not white.
Rgb3 over(const Colour& c, const Rgb3& under) {
    if (!c.isValid()) return under;
    return mix(under, rgb(c), std::clamp(c.alpha, 0.0, 1.0));
}

Table colours(const BarTheme& theme, SpectrogramRange range) {
    const Rgb3 a = over(theme.meterTrack, rgb(theme.background));
    const Rgb3 b = over(theme.meterFill, a);
    const Stop stops[] = {{0.0, a}, {0.3, mix(a, b, 0.35)}, {0.72, b}, {1.0, mix(b, kWhite, 0.75)}};
    return levelTable(stops, range);
}

Table heatColours(SpectrogramRange range) {
    static constexpr Stop kStops[] = {
        {0.00, {0.0, 0.0, 0.016}},     {0.14, {0.122, 0.047, 0.282}}, {0.29, {0.333, 0.059, 0.427}},
        {0.43, {0.533, 0.133, 0.416}}, {0.57, {0.729, 0.212, 0.333}}, {0.71, {0.89, 0.349, 0.2}},
        {0.86, {0.976, 0.557, 0.035}}, {1.00, {0.988, 1.0, 0.643}}};
    return levelTable(kStops, range);
}

Table spectrumColours(const BarTheme& theme) {
    const Rgb3 a = over(theme.meterTrack, rgb(theme.background));
    const Rgb3 b = over(theme.meterFill, a);
    const Stop stops[] = {{0.0, mix(a, b, 0.3)}, {0.35, mix(a, b, 0.65)}, {0.65, b}, {1.0, mix(b, kWhite, 0.55)}};
    Table table{};
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = pack(at(stops, static_cast<double>(i) / 255.0));
    return table;
}

}  // namespace crestline::SpectrogramPalette
