// The bar as a picture for the metering tool: one frame drawn offscreen (no
// display needed) from a source's analysers, with the module order and
// options of the given settings, written as PNG. A picture cannot scroll:
// when the modules do not fit the asked width it is drawn as wide as they
// need (at least the bar's minimum width) and says so. Kept apart so the
// plain metering path of the tool never starts Qt.
#pragma once

#include <optional>
#include <string>

#include "bar/geometry.h"

namespace crestline {

class Clock;
class LiveSync;
class MeterSource;
class Settings;

struct MeterPictureOptions {
    double width = 900.0;  // points
    double height = 36.0;  // points
    double scale = 2.0;    // pixels per point
    // "liveLight", "liveDark" or "scope": that preset; otherwise the theme
    // in use (Live's colours when they can be read).
    std::optional<std::string> theme;
};

struct MeterPictureResult {
    std::string error;   // empty once the file is written
    Size drawn;          // points
    bool widened = false;  // drawn wider than asked, to fit the modules
};

// Draws the frame at the clock's now, following `sync` (may be null) for
// bar numbers and the beat-synced scope. Creates an offscreen
// QGuiApplication when the process has none.
MeterPictureResult writeMeterPicture(const std::string& path, MeterSource& source, const MeterPictureOptions& options,
                                     Settings& settings, const Clock& clock, const LiveSync* sync = nullptr);

}  // namespace crestline
