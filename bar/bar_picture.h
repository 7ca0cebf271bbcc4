// The bar drawn offscreen: no display needed. Used by the metering tool's
// picture output, the tests and the benchmark.
#pragma once

#include <QImage>

#include "bar/geometry.h"

namespace crestline {

class BarView;

// Sets the view's bounds and scale and draws one frame into a new image of
// ceil(points × scale) pixels with that device pixel ratio.
QImage renderBar(BarView& view, Size points, double scale);
// Draws one frame into `image` (already sized; its device pixel ratio is the
// scale), reusing it from frame to frame.
void renderBar(BarView& view, QImage& image);

}  // namespace crestline
