// The product's wordmark: a crest line, drawn as a filled path at any
// height. Artwork, not text; the maker mark sets "by KESTO" after it.
#pragma once

#include "bar/canvas.h"

namespace crestline {

struct Wordmark {
    // Width over height.
    static constexpr double aspect() { return 3.2; }
    // The mark with its bottom-left corner at `at`, `height` points high.
    static Path path(Point at, double height);
};

}  // namespace crestline
