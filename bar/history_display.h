// The loudness history module: the meter's series over the chosen minutes
// with the target line, peak and dynamics marks, Live's bars and locators
// and the pointer's read-out. For now it names itself in its panel.
#pragma once

#include "bar/module_display.h"

namespace crestline {

class HistoryDisplay final : public ModuleDisplay {
public:
    ColorArea area() const override { return ColorArea::history; }
    void draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) override;
};

}  // namespace crestline
