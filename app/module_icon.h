// Small pictograms of the modules for the add menu, drawn by us in one
// colour (the menu's text colour) at any scale: a wave for the scope, falling
// bars for the spectrum, a fan for the imager, a filled line for the history,
// a grid of shaded cells for the spectrogram and level bars for the meter.
// Main thread (QPainter on a QImage).
#pragma once

#include <QColor>
#include <QImage>

#include "settings/module_options.h"

namespace crestline::ModuleIcon {

inline constexpr int kSize = 16;  // points, square

// The pictogram at `scale` device pixels per point.
QImage image(ColorArea area, const QColor& colour, double scale = 1.0);

}  // namespace crestline::ModuleIcon
