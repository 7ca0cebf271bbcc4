// The spectrogram module: the recorder's history of spectra as an image,
// time to the right, 20 Hz to 20 kHz upwards, coloured through a table
// for the chosen colour map and range, with its frequency grid and Live's
// bars. For now it names itself in its panel.
#pragma once

#include "bar/module_display.h"

namespace crestline {

class SpectrogramDisplay final : public ModuleDisplay {
public:
    ColorArea area() const override { return ColorArea::spectrogram; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;
};

}  // namespace crestline
