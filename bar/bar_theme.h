// The colours the bar, its hints, its menus and the settings window are
// drawn with. Three presets; a theme that follows Live takes Live's area,
// surface and control colours and shifts some of its own by how far Live's
// theme differs from Live's reference theme; an accent then recolours the
// trace and the meter fill. Plain value, immutable once made; the presets
// are built once per process (thread-safe).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "bar/colour.h"
#include "live/live_theme.h"

namespace crestline {

class Settings;

enum class BarThemeName { liveLight, liveDark, scope };

std::string_view rawValue(BarThemeName name);
std::optional<BarThemeName> barThemeName(std::string_view raw);

struct BarTheme {
    Colour background;
    Colour border;
    Colour separator;
    Colour axis;
    Colour trace;
    std::optional<Colour> traceGlow;
    Colour traceRight;
    std::optional<Colour> traceRightGlow;
    double traceWidth = 1.3;  // points
    Colour meterTrack;
    Colour meterFill;
    Colour meterHot;
    Colour integratedMarker;
    Colour targetMarker;
    std::optional<Colour> fieldBackground;
    std::optional<Colour> fieldBorder;
    Colour labelColor;
    Colour valueColor;
    Colour warnColor;
    Colour statusColor;
    Colour gripDot;
    Colour spectrumGridMinor;
    Colour spectrumGridMajor;
    Colour hintBackground;
    Colour hintBorder;
    Colour hintText;
    // Live-style square corners; also marks a theme that follows Live.
    bool squared = false;
    std::optional<Colour> panel;
    std::optional<Colour> menuHighlight;
    std::optional<Colour> menuHighlightText;
    std::optional<Colour> menuDisabledText;
    std::optional<Colour> titleBar;

    static const BarTheme& liveLight();
    static const BarTheme& liveDark();
    static const BarTheme& scope();
    static BarTheme preset(BarThemeName name);

    // The Live-following theme for Live's colours, against Live's own
    // reference themes; unchanged without colours or for a theme that does
    // not follow Live.
    BarTheme matchingLive(const std::optional<LiveTheme::Colours>& colours) const;
    BarTheme matchingLive(const std::optional<LiveTheme::Colours>& colours, const LiveTheme::ColourMap& lightReference,
                          const LiveTheme::ColourMap& darkReference) const;
    // Recolours trace, its glow and the meter fill with an sRGB accent of
    // exactly three components (0...1), keeping their alphas.
    BarTheme tinted(const std::optional<std::vector<double>>& accent) const;

    bool operator==(const BarTheme&) const = default;
};

// The theme in use, computed anew on each call from "barTheme", Live's theme
// and the bar's single accent colour: "scope" is the scope preset; anything
// else follows Live (light or dark as Live is) from the liveLight preset.
BarTheme currentTheme(const Settings& settings);
// The same with Live's colours given: what the settings store's theme reads.
BarTheme currentTheme(const Settings& settings, const std::optional<LiveTheme::Colours>& live,
                      const LiveTheme::ColourMap& lightReference, const LiveTheme::ColourMap& darkReference);

// `base` shifted by (live − reference) of Live's colour `key`, per component,
// clamped to 0...1, alpha kept; `base` itself when either map lacks the key.
Colour follow(const Colour& base, std::string_view key, const LiveTheme::ColourMap& all,
              const LiveTheme::ColourMap& reference);

// Live's colour in the bar's form.
constexpr Colour barColour(const LiveTheme::Colour& c) { return {c.red, c.green, c.blue, c.alpha}; }

// An sRGB accent component taken through the presets' 1.8-gamma encoding.
Colour accentColour(const std::vector<double>& accent, double alpha);

}  // namespace crestline
