// A file's beat grid for its picture: the transport messages Live's helper
// would have sent while the file played from beat 0 at a steady tempo (a
// position every 0.1 s, playing, and the time signature), stamped on a
// fake clock that runs from `start` over the file's length. A bar view
// drawn at the file's end with that clock and sync shows bar numbers and
// the beat-synced scope as it would have live.
#pragma once

#include <optional>
#include <utility>

namespace crestline {
class FakeClock;
class LiveSync;
}

namespace crestline::meter_tool {

// Leaves the clock at the file's end. The sync keeps its last ten minutes
// of samples, which is as far back as any display looks.
void playBeatGrid(LiveSync& sync, FakeClock& clock, double seconds, double bpm,
                  std::optional<std::pair<int, int>> signature);

}  // namespace crestline::meter_tool
