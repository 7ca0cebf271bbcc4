// The hub between capture and everything that shows audio. Owns the four
// analysers for the whole run (scope buffer, loudness meter, peak meter,
// spectrogram recorder) and, while attached, one process tap whose blocks it
// hands, in a fixed order, to the meter, the peak meter and the scope. The
// recorder pulls from the scope on its own timer, running from construction.
//
// Threads: construction, `attach`, `detach`, `liveSampleRate`, the resets
// and destruction on the main thread; the block handler on the tap's capture
// queue. Each analyser guards itself; the engine holds no lock of its own.
//
// Shut-down order: the tap stops (no callback runs any more), then the
// recorder's timer, and only then do the analysers go.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "analysis/loudness_meter.h"
#include "analysis/peak_meter.h"
#include "analysis/scope_buffer.h"
#include "analysis/spectrogram_recorder.h"
#include "capture/process_tap.h"
#include "platform/clock.h"

namespace crestline {

class AudioEngine {
public:
    static constexpr int kScopeCapacity = 262144;  // frames (0x40000)
    // `attachedAt` before the first attach: every "time since" is infinite.
    static constexpr double kDistantPast = -std::numeric_limits<double>::infinity();

    // Reads "spectrogramChannel" from the shared settings and starts the
    // recorder. `clock` stamps `attachedAt`; it must outlive the engine.
    explicit AudioEngine(const Clock& clock = systemClock());
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Stops and drops the running tap first, then makes, prepares and starts
    // a new one. Throws the tap's `CoreAudioError`, leaving the engine
    // detached. pid 0 attaches to all sound.
    void attach(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source);
    // Stops and drops the tap, if any.
    void detach();

    // The rate the audio service reports now for the running tap's first tap
    // object; nothing when detached or unreadable.
    std::optional<double> liveSampleRate() const;

    // Reset commands, each under the analysers' own locks.
    void resetShortTerm();
    void resetIntegrated();  // integrated loudness and loudness range
    void resetTruePeak();    // true peak and overs
    void resetHistory();     // the meter's history and the spectrogram's
    // The reset-meter command: short-term, integrated with range and true
    // peak with overs in one hold of the meter's lock; the histories stay.
    void resetMeter();

    ScopeBuffer& scope() { return scope_; }
    LoudnessMeter& meter() { return meter_; }
    PeakMeter& peaks() { return peaks_; }
    SpectrogramRecorder& spectrogram() { return spectrogram_; }
    const std::shared_ptr<ProcessTap>& tap() const { return tap_; }
    double attachedAt() const { return attachedAt_; }  // the clock's seconds

private:
    const Clock& clock_;
    ScopeBuffer scope_{kScopeCapacity};
    LoudnessMeter meter_;
    PeakMeter peaks_;
    SpectrogramRecorder spectrogram_;
    std::shared_ptr<ProcessTap> tap_;
    double attachedAt_ = kDistantPast;
};

}  // namespace crestline
