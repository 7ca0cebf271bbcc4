#include "bar/scope_display.h"

namespace crestline {

void ScopeDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    if (rect.width <= 10.0) return;
    zones.scopeField = rect;
    zones.addHint(rect, Hint::scope);
    drawModuleName(canvas, rect, frame);
}

}  // namespace crestline
