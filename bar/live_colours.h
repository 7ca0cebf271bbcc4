// Live's theme colours as the bar theme takes them. Until the theme reader
// exists this is the bar's own copy of that shape; `liveThemeColours()`
// answers nothing, so every theme falls back to its preset.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "bar/colour.h"

namespace crestline {

struct LiveColours {
    Colour area;
    Colour surface;
    Colour control;
    bool isLight = true;
    std::map<std::string, Colour> all;
};

using LiveColourMap = std::map<std::string, Colour>;

// Live's current theme, or nothing when it cannot be read.
std::optional<LiveColours> liveThemeColours();
// Colours of Live's built-in "Classic Medium Light" and "Default Dark
// Neutral Medium" themes; empty when Live is not found.
const LiveColourMap& liveLightReference();
const LiveColourMap& liveDarkReference();

}  // namespace crestline
