// Meters one audio file: reads it in large blocks at its own rate and
// channel count and feeds a MeterSession 512 frames at a time (the grain of
// the maxima and periodic readings); writes the periodic readings and the final one as
// JSON lines to `out`, and a progress line to `progress` (only for files
// over a minute, and only when that stream is a terminal).
#pragma once

#include <cstdio>
#include <string>

#include "analysis/gating_histograms.h"
#include "tools/meter/meter_options.h"
#include "tools/meter/reading_json.h"

namespace crestline::meter_tool {

// Returns false after writing one line "crestline-meter: FILE: reason" to
// `errors` when the file cannot be metered. The final reading also goes to
// `result`, and the gating histograms (for an album) to `histograms`, when
// given.
bool meterFile(const std::string& path, const MeterOptions& options, std::FILE* out, std::FILE* errors,
               MeterReport* result = nullptr, GatingHistograms* histograms = nullptr);

}  // namespace crestline::meter_tool
