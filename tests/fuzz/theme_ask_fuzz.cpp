// The theme-file scans on arbitrary text: every colour found has components
// in 0...1 and a word-character name. The single lookup reads the first
// occurrence of a name (valid or not), so it need not agree with the map.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "live/live_theme.h"

using namespace crestline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto map = LiveTheme::colours(text);
    for (const auto& [name, colour] : map) {
        if (name.empty()) std::abort();
        for (char c : name) {
            const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
            if (!word) std::abort();
        }
        for (double v : {colour.red, colour.green, colour.blue, colour.alpha}) {
            if (!(v >= 0.0 && v <= 1.0)) std::abort();
        }
        if (const auto single = LiveTheme::colour(name, text); single && single->alpha != 1.0) std::abort();
    }
    for (std::string_view name : {"SurfaceArea", "SurfaceBackground", "ControlBackground"}) {
        (void)LiveTheme::colour(name, text);
    }
    return 0;
}
