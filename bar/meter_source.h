// What the bar reads from the audio side once per frame: one loudness
// snapshot, the sample peaks since the previous frame, the scope's activity
// counter that tells the display link whether audio arrives, and the
// analysers the graph displays read (scope buffer, the meter's history, the
// spectrogram recorder). The engine's analysers answer under their own
// locks; tests, the pictures and the benchmark feed analysers of their own
// (AnalyserSource) or plain values.
#pragma once

#include <cstdint>

#include "analysis/loudness_reading.h"
#include "analysis/peak_meter.h"

namespace crestline {

class LoudnessMeter;
class ScopeBuffer;
class SpectrogramRecorder;

class MeterSource {
public:
    virtual ~MeterSource() = default;
    virtual LoudnessReading reading() = 0;
    // Peaks since the previous call, dBFS; clears them.
    virtual PeakLevels takePeaks() = 0;
    // Number of audio blocks that carried sound; grows while audio arrives.
    virtual std::uint64_t activity() = 0;

    // The analysers behind the graphs; null for a source without them (the
    // graphs then draw silence).
    virtual const ScopeBuffer* scope() { return nullptr; }
    virtual const LoudnessMeter* loudnessMeter() { return nullptr; }
    virtual const SpectrogramRecorder* spectrogram() { return nullptr; }
};

}  // namespace crestline
