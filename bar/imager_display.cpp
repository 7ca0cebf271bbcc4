#include "bar/imager_display.h"

namespace crestline {

void ImagerDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    zones.addHint(rect, Hint::imager);
    drawModuleName(canvas, rect, frame);
}

}  // namespace crestline
