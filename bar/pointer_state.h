// What the pointer is doing, as far as drawing shows it: hover and
// selection, drags of modules, dividers and edges, the module frozen under
// the pointer and the pointer's place over the spectrum and the history.
// Written by the pointer handling, read by the view and the displays while
// they draw. Main thread only.
#pragma once

#include <optional>

#include "analysis/loudness_reading.h"
#include "settings/module_options.h"

namespace crestline {

// What a press is dragging.
enum class Grab { left, right, split, split2, meter, height };

// A title bar (module) or its gear (options).
struct EditTarget {
    enum class Kind { module, options };
    Kind kind = Kind::module;
    ColorArea area = ColorArea::meter;
    bool operator==(const EditTarget&) const = default;
};

struct PointerState {
    struct ModuleDrag {
        ColorArea area;
        double x = 0.0;
        double y = 0.0;
    };
    std::optional<ColorArea> selectedArea;
    std::optional<ColorArea> hoverArea;
    std::optional<ColorArea> menuHighlight;  // module whose menu is open
    std::optional<ModuleDrag> editDrag;
    std::optional<ModuleDrag> paletteDrop;   // y unused
    std::optional<Grab> grab;
    std::optional<Grab> edgeHover;
    bool heightHover = false;
    bool split2Hover = false;
    bool meterHover = false;

    // Freezing on hover: the module stands still while the pointer rests on it.
    std::optional<ColorArea> frozenArea;
    double frozenAt = 0.0;                        // media seconds when it froze
    std::optional<LoudnessReading> frozenReading;  // taken at the first frame after freezing

    // The spectrum held under the pointer, and the pointer's x over the
    // spectrum and the history fields (points), for their read-outs.
    bool spectrumGrabbed = false;
    std::optional<double> grabPointerX;
    std::optional<double> historyPointerX;

    bool frozen(ColorArea area) const { return frozenArea == area; }
};

}  // namespace crestline
