// The oscilloscope module: a triggered scope for short windows (10 to
// 250 ms), a scrolling overview for long ones (1 to 30 s) and a view synced
// to Live's beats (one beat to sixteen bars), read from the scope buffer
// and, for the synced view, Live's transport and set. For now it names
// itself in its panel.
#pragma once

#include "bar/module_display.h"

namespace crestline {

class ScopeDisplay final : public ModuleDisplay {
public:
    ColorArea area() const override { return ColorArea::scope; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;
};

}  // namespace crestline
