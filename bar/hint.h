// Topics of the hover explanations. Drawing code registers a rectangle with
// one of these for every part of the bar it draws; the hint panel looks the
// topic up under the pointer.
#pragma once

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

}  // namespace crestline
