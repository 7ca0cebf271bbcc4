// The hub between capture and everything that shows audio. Owns the four
// analysers for the whole run (scope buffer, loudness meter, peak meter,
// spectrogram recorder) and, while attached, one process tap whose blocks it
// hands, in a fixed order, to the meter, the peak meter and the scope. The
// recorder pulls from the scope on its own timer, running from construction.
//
// Threads: construction, `attach`, `detach`, `liveSampleRate`, the resets
// and destruction on the main thread; the block handler on the sound
// server's thread. Each analyser guards itself.
//
// Waiting on the sound server: `attach(pid, mode, source)` blocks the caller
// for up to `ProcessTap::kPrepareSeconds` (2 s) while it prepares the tap, so
// the application does not call it on its main thread. It calls
// `beginAttach` instead: the tap is prepared on the engine's attach worker,
// `ready` is called there when done, and the main thread then calls
// `finishAttach`, which swaps the prepared tap in without waiting on the
// server (or throws its error). `prepareTap` + `attach(tap)` do the same for
// a caller that runs its own worker. `detach`, `liveSampleRate`, `tap()` and
// `hasLiveTap` never wait on the server.
//
// Keeping the capture alive: when `hasLiveTap()` turns false while a tap is
// attached, its recording ended (`tap()->failure()` says how: the process
// quit, the server went away, the recording stalled) and nothing more
// arrives; the application attaches anew. A restarted server is found again.
//
// Shut-down order: the attach worker (a preparation under way ends within
// its 2 s), the tap (no callback runs any more), the recorder's timer, and
// only then do the analysers go.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

#include "analysis/loudness_meter.h"
#include "analysis/peak_meter.h"
#include "analysis/scope_buffer.h"
#include "analysis/spectrogram_recorder.h"
#include "capture/process_tap.h"
#include "platform/clock.h"
#include "platform/serial_queue.h"

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
    // detached. pid 0 attaches to all sound. Blocks up to 2 s.
    void attach(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source);
    // Any thread; blocks up to 2 s. A prepared tap for `attach(tap)`; throws
    // `CoreAudioError`.
    static std::shared_ptr<ProcessTap> prepareTap(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source);
    // Main thread; never waits on the server. Stops the running tap, sets
    // the analysers to the prepared tap's rate and starts it. Throws its
    // `CoreAudioError` (its recording ended meanwhile), leaving the engine
    // detached.
    void attach(std::shared_ptr<ProcessTap> prepared);

    // Prepares a tap on the attach worker; the running tap goes on until
    // `finishAttach`. `ready` runs on the worker once the result waits. A
    // later call supersedes an earlier one still pending.
    void beginAttach(std::int32_t pid, ProcessTap::Mode mode, ProcessTap::Source source,
                     std::function<void()> ready = {});
    // Main thread: attaches the tap `beginAttach` prepared and returns true;
    // throws its `CoreAudioError` (the engine detached); false while nothing
    // waits.
    bool finishAttach();
    bool attachPending() const;

    // Stops and drops the tap, if any.
    void detach();

    // A tap is attached and its recording has not ended (the process quit,
    // the server went away or stalled): audio still arrives.
    bool hasLiveTap() const { return tap_ && !tap_->streamFailed(); }

    // The rate the server last reported for the running tap's sink; nothing
    // when detached or unknown.
    std::optional<double> liveSampleRate() const;

    // Wakes whoever sleeps through silence (the bar's display link): after
    // `armWake`, the first block with a sample other than 0 calls `wake` on
    // the capture thread, once. `wake` must neither block nor allocate.
    // Set before the first attach; arm from any thread.
    void setWake(std::function<void()> wake) { wake_ = std::move(wake); }
    void armWake() { wakeArmed_.store(true, std::memory_order_relaxed); }

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
    std::function<void()> wake_;
    // Writers: any thread (arming) and the capture thread (firing); relaxed:
    // nothing is published with it, a late wake only draws a frame later.
    std::atomic<bool> wakeArmed_{false};

    // The outcome of the latest `beginAttach`, handed from the worker to
    // the main thread.
    mutable std::mutex pendingMutex_;
    std::uint64_t attachGeneration_ = 0;  // of the latest beginAttach
    bool pending_ = false;
    std::shared_ptr<ProcessTap> prepared_;
    std::exception_ptr attachError_;
    SerialQueue attachWorker_;  // last: stops first, before the analysers go
};

}  // namespace crestline
