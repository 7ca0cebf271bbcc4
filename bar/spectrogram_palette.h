// Colour tables of the spectrogram and the spectrum: 256 packed pixels
// (0xAARRGGBB, alpha always 255), built by linear interpolation between a
// few sRGB stops. Entry i of a level table stands for i × 0.5 − 120 dB (the
// spectrogram recorder's byte scale), placed in the range's floor...top; the
// spectrum's table runs evenly from its quiet to its loud colour. Pure
// functions; the displays rebuild a table only when its theme key, range or
// colour map changes.
#pragma once

#include <array>
#include <cstdint>

#include "bar/bar_theme.h"
#include "settings/module_options.h"

namespace crestline {

namespace SpectrogramPalette {

using Table = std::array<std::uint32_t, 256>;

// dB at the first and the last colour of a range.
struct Span {
    double floor;
    double top;
};
Span span(SpectrogramRange range);

// From the theme's meter track through its meter fill to near white.
Table colours(const BarTheme& theme, SpectrogramRange range);
// Black through purple and orange to pale yellow.
Table heatColours(SpectrogramRange range);
// The spectrum display's column colours.
Table spectrumColours(const BarTheme& theme);

}  // namespace SpectrogramPalette

}  // namespace crestline
