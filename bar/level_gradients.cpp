#include "bar/level_gradients.h"

namespace crestline {

const Gradient& LevelGradients::of(const Colour& colour) {
    for (const auto& [key, gradient] : gradients_) {
        if (key == colour) return gradient;
    }
    if (gradients_.size() >= kCapacity) gradients_.clear();
    gradients_.emplace_back(colour, Gradient{{0.0, colour.withAlpha(colour.alpha * 0.35)}, {1.0, colour}});
    return gradients_.back().second;
}

}  // namespace crestline
