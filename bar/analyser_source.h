// The analysers of the audio engine without the engine: a scope buffer, a
// loudness meter, a peak meter and a spectrogram recorder that the caller
// feeds with stereo blocks instead of a capture. Blocks take the capture's
// road (non-finite samples become 0; loudness meter, peak meter, scope
// buffer), and the spectrogram records a column for every 40 ms of audio
// fed, so audio time drives it rather than a timer: a file metered in a
// second has the columns it would have had while playing. Behind the bar it
// stands where the engine stands, for crestline-meter's pictures, the tests
// and the benchmark.
//
// One thread feeds and draws. Memory as the engine's: about 12 MB of scope
// rings and overview, 2.4 MB of spectrogram columns.
#pragma once

#include <cstdint>

#include "analysis/block_handler.h"
#include "analysis/loudness_meter.h"
#include "analysis/peak_meter.h"
#include "analysis/scope_buffer.h"
#include "analysis/spectrogram_recorder.h"
#include "bar/meter_source.h"

namespace crestline {

class AnalyserSource final : public MeterSource {
public:
    explicit AnalyserSource(int scopeCapacity = ScopeBuffer::kEngineCapacity);
    AnalyserSource(const AnalyserSource&) = delete;
    AnalyserSource& operator=(const AnalyserSource&) = delete;

    // False (and nothing changed) for a rate the meter refuses.
    bool configure(double sampleRate);
    double sampleRate() const { return sampleRate_; }

    void feed(const float* left, const float* right, int frames);
    std::uint64_t framesFed() const { return frames_; }
    // Records no spectrogram column before this many frames were fed: a
    // long file's start is older than the recorder keeps anyway.
    void recordColumnsFrom(std::uint64_t frame) { columnsFrom_ = frame; }

    LoudnessReading reading() override { return meter_.reading(); }
    PeakLevels takePeaks() override { return peaks_.take(); }
    std::uint64_t activity() override { return scope_.activity(); }
    const ScopeBuffer* scope() override { return &scope_; }
    const LoudnessMeter* loudnessMeter() override { return &meter_; }
    const SpectrogramRecorder* spectrogram() override { return &recorder_; }

    LoudnessMeter& meter() { return meter_; }
    ScopeBuffer& scopeBuffer() { return scope_; }
    SpectrogramRecorder& recorder() { return recorder_; }

private:
    ScopeBuffer scope_;
    LoudnessMeter meter_;
    PeakMeter peaks_;
    SpectrogramRecorder recorder_;  // never started: columns come from `feed`
    BlockHandler handler_;
    double sampleRate_ = 48000.0;
    int framesPerColumn_ = 1920;   // 40 ms at the rate, rounded
    int framesToColumn_ = 1920;    // audio still to feed before the next column
    std::uint64_t frames_ = 0;
    std::uint64_t columnsFrom_ = 0;
};

}  // namespace crestline
