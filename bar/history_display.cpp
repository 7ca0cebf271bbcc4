#include "bar/history_display.h"

namespace crestline {

void HistoryDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    if (rect.width <= 20.0) return;
    zones.historyField = Rect{rect.minX(), rect.minY() + 2.0, rect.width, rect.height - 4.0};
    zones.addHint(rect, Hint::history);
    drawModuleName(canvas, rect, frame);
}

}  // namespace crestline
