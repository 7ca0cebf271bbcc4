// Topics of the hover explanations. Drawing code registers a rectangle with
// one of these for every part of the bar it draws; the hint panel looks the
// topic up under the pointer and shows its title and body.
#pragma once

#include <string_view>

namespace crestline {

enum class Hint {
    scope,
    spectrum,
    imager,
    history,
    spectrogram,
    loudness,
    momentary,
    shortTerm,
    integrated,
    vsTarget,
    loudnessRange,
    psr,
    truePeak,
    peak,
};

// The panel's bold first line and its paragraph, UTF-8 (minus signs are
// U+2212).
std::string_view hintTitle(Hint hint);
std::string_view hintBody(Hint hint);

}  // namespace crestline
