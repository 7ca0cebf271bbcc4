// The bar as a picture for the metering tool: one frame drawn offscreen (no
// display needed) with the readings at the end of the audio and the module
// order and options of the current settings, written as PNG. Kept apart so
// the plain metering path of the tool never starts Qt.
#pragma once

#include <optional>
#include <string>

#include "analysis/loudness_reading.h"
#include "analysis/peak_meter.h"

namespace crestline {

class Settings;

struct MeterPictureOptions {
    double width = 900.0;  // points
    double height = 36.0;  // points
    double scale = 2.0;    // pixels per point
    // "liveLight", "liveDark" or "scope": that preset; otherwise the theme
    // in use (Live's colours when they can be read).
    std::optional<std::string> theme;
};

// Returns an error text, or an empty string once the file is written.
// Creates an offscreen QGuiApplication when the process has none.
std::string writeMeterPicture(const std::string& path, const LoudnessReading& reading,
                              std::optional<PeakLevels> samplePeaks, const MeterPictureOptions& options,
                              Settings& settings);

}  // namespace crestline
