#include "bar/live_colours.h"

namespace crestline {

std::optional<LiveColours> liveThemeColours() { return std::nullopt; }

const LiveColourMap& liveLightReference() {
    static const LiveColourMap empty;
    return empty;
}

const LiveColourMap& liveDarkReference() {
    static const LiveColourMap empty;
    return empty;
}

}  // namespace crestline
