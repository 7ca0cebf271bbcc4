// The stereo imager module: the newest samples as fading dots in a strip,
// a polar half-circle or a Lissajous diamond, with the correlation. For now
// it names itself in its panel.
#pragma once

#include "bar/module_display.h"

namespace crestline {

class ImagerDisplay final : public ModuleDisplay {
public:
    ColorArea area() const override { return ColorArea::imager; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;
};

}  // namespace crestline
