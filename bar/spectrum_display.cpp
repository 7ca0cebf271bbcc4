#include "bar/spectrum_display.h"

namespace crestline {

void SpectrumDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    if (rect.width <= 10.0) return;
    zones.spectrumField = Rect{rect.minX(), rect.minY() + 2.0, rect.width, rect.height - 4.0};
    zones.addHint(rect, Hint::spectrum);
    drawModuleName(canvas, rect, frame);
}

}  // namespace crestline
