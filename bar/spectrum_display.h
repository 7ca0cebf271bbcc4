// The spectrum module: the view's spectrum analyser drawn as a filled
// curve over 20 Hz to 20 kHz, one column per device pixel, with its grids,
// the pointer's read-out and, while held, the held curve with its peaks
// named. For now it names itself in its panel.
#pragma once

#include "bar/module_display.h"

namespace crestline {

class SpectrumDisplay final : public ModuleDisplay {
public:
    ColorArea area() const override { return ColorArea::spectrum; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;
};

}  // namespace crestline
