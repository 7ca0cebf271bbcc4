// Which stereo pair of a multi-channel output the capture delivers: a fixed
// pair, the first pair that carries signal, or the level-corrected mixdown.
// Per output device the user's choice is stored in the settings as "auto",
// "mixdown" or "pair:<index>".
#pragma once

namespace crestline {

enum class TapMode {
    tapOnly,           // the aggregate holds only the taps
    withOutputDevice,  // the output device joins as main sub-device
};

struct TapSource {
    enum class Kind { pair, automatic, mixdown };  // "auto" is taken by C++

    Kind kind = Kind::automatic;
    int pairIndex = 0;  // meaningful for Kind::pair only

    static constexpr TapSource pair(int index) { return {Kind::pair, index}; }
    static constexpr TapSource automatic() { return {Kind::automatic, 0}; }
    static constexpr TapSource mixdown() { return {Kind::mixdown, 0}; }

    bool operator==(const TapSource&) const = default;
};

}  // namespace crestline
