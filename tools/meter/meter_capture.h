// crestline-meter --capture: the application's engine attached to what the
// sound server plays (one process's sound, or all of it), metered for a
// number of seconds of wall-clock time from the first block and reported as
// the same JSON as for files, with "source" ("pid:<n>" or "all") in place of
// "file".
#pragma once

#include <cstdio>

#include "tools/meter/meter_options.h"

namespace crestline::meter_tool {

inline constexpr double kDefaultCaptureSeconds = 10.0;

// Returns the exit status: 0 when the whole time was metered; 2 when the
// capture could not start (a process without sound, no sound server: one
// line with the capture layer's description); 1 when the sound stopped
// early (the process quit); 2 when the sound server went away or the
// recording stalled while the sound played on. After a start, what was
// metered until the end is printed first, and the failure in one line.
int meterCapture(const MeterOptions& options, std::FILE* out, std::FILE* errors);

}  // namespace crestline::meter_tool
