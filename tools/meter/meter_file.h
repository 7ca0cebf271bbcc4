// Meters one audio file: reads it in 512-frame blocks at its own rate
// through a MeterSession, writes the periodic readings and the final one as
// JSON lines to `out`, and a progress line to `progress` (only for files
// over a minute, and only when that stream is a terminal).
#pragma once

#include <cstdio>
#include <string>

#include "tools/meter/meter_options.h"
#include "tools/meter/reading_json.h"

namespace crestline::meter_tool {

// Returns false after writing one line "crestline-meter: FILE: reason" to
// `errors` when the file cannot be metered. The final reading also goes to
// `result` when given.
bool meterFile(const std::string& path, const MeterOptions& options, std::FILE* out, std::FILE* errors,
               MeterReport* result = nullptr);

}  // namespace crestline::meter_tool
