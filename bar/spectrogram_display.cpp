#include "bar/spectrogram_display.h"

namespace crestline {

void SpectrogramDisplay::draw(Canvas& canvas, const Rect& rect, const Frame& frame, Zones& zones) {
    zones.addHint(rect, Hint::spectrogram);
    drawModuleName(canvas, rect, frame);
}

}  // namespace crestline
