#include "bar/bar_theme.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "settings/settings.h"

namespace crestline {

namespace {

// The presets' 8-bit colours, re-encoded from the sRGB curve to a 1.8 gamma:
// part of the look (mid-tones come out darker than the numbers read as sRGB).
Colour rgb(int r, int g, int b, double alpha) {
    return {srgbToGamma18(r / 255.0), srgbToGamma18(g / 255.0), srgbToGamma18(b / 255.0), alpha};
}

Colour gray(double white, double alpha) {
    const double v = srgbToGamma18(white);
    return {v, v, v, alpha};
}

Colour srgb(double r, double g, double b, double alpha) { return {r, g, b, alpha}; }

BarTheme makeLiveLight() {
    BarTheme t;
    t.background = rgb(105, 105, 105, 1);
    t.border = rgb(54, 54, 54, 1);
    t.separator = rgb(0, 0, 0, 0.32);
    t.axis = rgb(0, 0, 0, 0.22);
    t.trace = rgb(246, 182, 142, 1);
    t.traceRight = rgb(106, 208, 224, 1);
    t.traceWidth = 1.3;
    t.meterTrack = rgb(54, 54, 54, 1);
    t.meterFill = rgb(246, 182, 142, 1);
    t.meterHot = rgb(232, 114, 26, 1);
    t.integratedMarker = rgb(255, 255, 255, 1);
    t.targetMarker = rgb(232, 114, 26, 1);
    t.fieldBackground = rgb(163, 163, 163, 1);
    t.labelColor = gray(0.1, 0.85);
    t.valueColor = gray(0.08, 1.0);
    t.warnColor = srgb(0.72, 0.11, 0.07, 1);
    t.statusColor = gray(0.12, 0.8);
    t.gripDot = rgb(0, 0, 0, 0.4);
    t.spectrumGridMinor = rgb(255, 255, 255, 0.06);
    t.spectrumGridMajor = rgb(255, 255, 255, 0.12);
    t.hintBackground = rgb(214, 214, 214, 1);
    t.hintBorder = rgb(54, 54, 54, 1);
    t.hintText = gray(0.08, 1.0);
    t.squared = true;
    return t;
}

BarTheme makeLiveDark() {
    BarTheme t;
    t.background = rgb(46, 46, 46, 1);
    t.border = rgb(18, 18, 18, 1);
    t.separator = rgb(255, 255, 255, 0.16);
    t.axis = rgb(255, 255, 255, 0.12);
    t.trace = rgb(246, 182, 142, 1);
    t.traceRight = rgb(106, 208, 224, 1);
    t.traceWidth = 1.3;
    t.meterTrack = rgb(20, 20, 20, 1);
    t.meterFill = rgb(246, 182, 142, 1);
    t.meterHot = rgb(232, 114, 26, 1);
    t.integratedMarker = rgb(255, 255, 255, 1);
    t.targetMarker = rgb(247, 155, 42, 1);
    t.fieldBackground = rgb(54, 54, 54, 1);
    t.labelColor = gray(1.0, 0.62);
    t.valueColor = gray(1.0, 0.92);
    t.warnColor = srgb(1.0, 0.36, 0.29, 1);
    t.statusColor = gray(1.0, 0.55);
    t.gripDot = rgb(255, 255, 255, 0.34);
    t.spectrumGridMinor = rgb(255, 255, 255, 0.06);
    t.spectrumGridMajor = rgb(255, 255, 255, 0.12);
    t.hintBackground = rgb(64, 64, 64, 1);
    t.hintBorder = rgb(18, 18, 18, 1);
    t.hintText = gray(1.0, 0.9);
    t.squared = false;
    return t;
}

BarTheme makeScope() {
    BarTheme t;
    t.background = rgb(28, 28, 30, 0.98);
    t.border = rgb(255, 255, 255, 0.07);
    t.separator = rgb(255, 255, 255, 0.07);
    t.axis = rgb(255, 255, 255, 0.06);
    t.trace = rgb(232, 240, 247, 0.95);
    t.traceGlow = rgb(158, 184, 217, 0.18);
    t.traceRight = rgb(255, 199, 133, 0.85);
    t.traceRightGlow = rgb(255, 168, 92, 0.15);
    t.traceWidth = 1.2;
    t.meterTrack = rgb(255, 255, 255, 0.08);
    t.meterFill = rgb(204, 217, 235, 0.8);
    t.meterHot = rgb(255, 179, 71, 0.95);
    t.integratedMarker = rgb(255, 255, 255, 0.95);
    t.targetMarker = rgb(255, 179, 71, 0.9);
    t.labelColor = gray(1.0, 0.42);
    t.valueColor = gray(1.0, 0.92);
    t.warnColor = srgb(1.0, 0.38, 0.36, 1);
    t.statusColor = gray(1.0, 0.5);
    t.gripDot = rgb(255, 255, 255, 0.3);
    t.spectrumGridMinor = rgb(255, 255, 255, 0.05);
    t.spectrumGridMajor = rgb(255, 255, 255, 0.1);
    t.hintBackground = rgb(40, 40, 43, 1);
    t.hintBorder = rgb(255, 255, 255, 0.14);
    t.hintText = gray(1.0, 0.88);
    t.squared = false;
    return t;
}

std::optional<Colour> entry(const LiveTheme::ColourMap& map, std::string_view key) {
    const auto found = map.find(key);
    if (found == map.end()) return std::nullopt;
    return barColour(found->second);
}

// Text colours share the drawing form here; a colour that is not a valid
// drawing colour counts as a failed conversion, which keeps the base value.
Colour followText(const Colour& base, const LiveTheme::ColourMap& all, const LiveTheme::ColourMap& reference) {
    const Colour followed = follow(base, "ControlForeground", all, reference);
    return followed.isValid() ? followed : base;
}

}  // namespace

std::string_view rawValue(BarThemeName name) {
    switch (name) {
        case BarThemeName::liveLight: return "liveLight";
        case BarThemeName::liveDark: return "liveDark";
        case BarThemeName::scope: return "scope";
    }
    return "liveLight";
}

std::optional<BarThemeName> barThemeName(std::string_view raw) {
    for (BarThemeName name : {BarThemeName::liveLight, BarThemeName::liveDark, BarThemeName::scope}) {
        if (rawValue(name) == raw) return name;
    }
    return std::nullopt;
}

const BarTheme& BarTheme::liveLight() {
    static const BarTheme theme = makeLiveLight();
    return theme;
}

const BarTheme& BarTheme::liveDark() {
    static const BarTheme theme = makeLiveDark();
    return theme;
}

const BarTheme& BarTheme::scope() {
    static const BarTheme theme = makeScope();
    return theme;
}

BarTheme BarTheme::preset(BarThemeName name) {
    switch (name) {
        case BarThemeName::liveLight: return liveLight();
        case BarThemeName::liveDark: return liveDark();
        case BarThemeName::scope: return scope();
    }
    return scope();
}

Colour follow(const Colour& base, std::string_view key, const LiveTheme::ColourMap& all,
              const LiveTheme::ColourMap& reference) {
    const auto live = entry(all, key);
    if (!live) return base;
    const auto ref = entry(reference, key);
    if (!ref) return base;
    if (!base.isValid() || !live->isValid() || !ref->isValid()) return base;
    const auto shift = [](double b, double l, double r) {
        const double v = b + (l - r);  // exact when Live matches the reference
        if (v <= 0.0) return 0.0;
        return v > 1.0 ? 1.0 : v;
    };
    return {shift(base.red, live->red, ref->red), shift(base.green, live->green, ref->green),
            shift(base.blue, live->blue, ref->blue), base.alpha};
}

BarTheme BarTheme::matchingLive(const std::optional<LiveTheme::Colours>& colours) const {
    return matchingLive(colours, LiveTheme::lightReference(), LiveTheme::darkReference());
}

BarTheme BarTheme::matchingLive(const std::optional<LiveTheme::Colours>& colours,
                                const LiveTheme::ColourMap& lightReference,
                                const LiveTheme::ColourMap& darkReference) const {
    if (!colours || !squared) return *this;
    const BarTheme& base = colours->isLight ? liveLight() : liveDark();
    const LiveTheme::ColourMap& reference = colours->isLight ? lightReference : darkReference;
    const LiveTheme::ColourMap& all = colours->all;

    BarTheme t = base;
    t.background = barColour(colours->area);
    t.border = follow(base.border, "ControlContrastFrame", all, reference);
    t.meterTrack = follow(base.meterTrack, "DisplayBackground", all, reference);
    t.fieldBackground = barColour(colours->control);
    t.labelColor = followText(base.labelColor, all, reference);
    t.valueColor = followText(base.valueColor, all, reference);
    t.statusColor = followText(base.statusColor, all, reference);
    t.hintText = followText(base.hintText, all, reference);
    t.hintBackground = follow(base.hintBackground, "ControlTextBack", all, reference);
    t.hintBorder = follow(base.hintBorder, "ControlContrastFrame", all, reference);
    t.squared = true;
    t.panel = barColour(colours->surface);
    t.menuHighlight = entry(all, "SelectionBackground");
    t.menuHighlightText = entry(all, "SelectionForeground");
    t.menuDisabledText = entry(all, "TextDisabled");
    t.titleBar = entry(all, "SurfaceHighlight");
    return t;
}

Colour accentColour(const std::vector<double>& accent, double alpha) {
    const auto component = [&](std::size_t i) {
        const double v = i < accent.size() && std::isfinite(accent[i]) ? std::clamp(accent[i], 0.0, 1.0) : 0.0;
        return srgbToGamma18(v);
    };
    return {component(0), component(1), component(2), alpha};
}

BarTheme BarTheme::tinted(const std::optional<std::vector<double>>& accent) const {
    if (!accent || accent->size() != 3) return *this;
    // A stored accent with a NaN or infinite part is no accent at all.
    for (double v : *accent) {
        if (!std::isfinite(v)) return *this;
    }
    BarTheme t = *this;
    t.trace = accentColour(*accent, trace.alpha);
    if (traceGlow) t.traceGlow = accentColour(*accent, traceGlow->alpha);
    t.meterFill = accentColour(*accent, meterFill.alpha);
    return t;
}

BarTheme currentTheme(const Settings& settings) {
    // The references are read only when Live's colours exist.
    const std::optional<LiveTheme::Colours> live = LiveTheme::current();
    if (!live) return currentTheme(settings, std::nullopt, {}, {});
    return currentTheme(settings, live, LiveTheme::lightReference(), LiveTheme::darkReference());
}

BarTheme currentTheme(const Settings& settings, const std::optional<LiveTheme::Colours>& live,
                      const LiveTheme::ColourMap& lightReference, const LiveTheme::ColourMap& darkReference) {
    const auto stored = settings.string("barTheme");
    const BarThemeName name = (stored ? barThemeName(*stored) : std::nullopt).value_or(BarThemeName::liveLight);
    const BarTheme start = name == BarThemeName::scope
                               ? BarTheme::preset(BarThemeName::scope)
                               : BarTheme::preset(BarThemeName::liveLight).matchingLive(live, lightReference,
                                                                                         darkReference);
    std::optional<std::vector<double>> accent;
    if (const auto rgb = settings.accentColor()) accent = std::vector<double>(rgb->begin(), rgb->end());
    return start.tinted(accent);
}

}  // namespace crestline
