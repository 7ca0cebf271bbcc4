// What the bar reads from the audio side once per frame: one loudness
// snapshot, the sample peaks since the previous frame, and the scope's
// activity counter that tells the display link whether audio arrives. The
// engine's analysers answer these under their own locks; tests feed values.
#pragma once

#include <cstdint>

#include "analysis/loudness_reading.h"
#include "analysis/peak_meter.h"

namespace crestline {

class MeterSource {
public:
    virtual ~MeterSource() = default;
    virtual LoudnessReading reading() = 0;
    // Peaks since the previous call, dBFS; clears them.
    virtual PeakLevels takePeaks() = 0;
    // Number of audio blocks that carried sound; grows while audio arrives.
    virtual std::uint64_t activity() = 0;
};

}  // namespace crestline
