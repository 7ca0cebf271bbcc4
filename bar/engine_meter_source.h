// The bar's view of the audio engine: one loudness snapshot, the sample
// peaks, the scope's activity counter and the engine's analysers, each read
// under its analyser's own lock. Main thread.
#pragma once

#include "analysis/audio_engine.h"
#include "bar/meter_source.h"

namespace crestline {

class EngineMeterSource final : public MeterSource {
public:
    explicit EngineMeterSource(AudioEngine& engine) : engine_(engine) {}

    LoudnessReading reading() override { return engine_.meter().reading(); }
    PeakLevels takePeaks() override { return engine_.peaks().take(); }
    std::uint64_t activity() override { return engine_.scope().activity(); }
    const ScopeBuffer* scope() override { return &engine_.scope(); }
    const LoudnessMeter* loudnessMeter() override { return &engine_.meter(); }
    const SpectrogramRecorder* spectrogram() override { return &engine_.spectrogram(); }

private:
    AudioEngine& engine_;
};

}  // namespace crestline
