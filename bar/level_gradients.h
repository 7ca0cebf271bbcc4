// The level bars' gradient of a colour: from the colour at 0.35 of its alpha
// to the full colour. Made once per colour and kept; at most 16 are kept
// (colours change only with the theme and the accents), so a stream of new
// colours cannot grow the cache. Main thread only.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "bar/canvas.h"
#include "bar/colour.h"

namespace crestline {

class LevelGradients {
public:
    static constexpr std::size_t kCapacity = 16;

    const Gradient& of(const Colour& colour);
    std::size_t size() const { return gradients_.size(); }
    void clear() { gradients_.clear(); }

private:
    std::vector<std::pair<Colour, Gradient>> gradients_;
};

}  // namespace crestline
