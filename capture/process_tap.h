// Captures what one process plays, or all sound (pid 0), without sitting in
// the playback path: a recording of the monitor of the sink the process
// plays to, restricted to its sink input, handed to a handler as two
// de-interleaved float channels. Of a multi-channel sink it delivers one
// stereo pair: a fixed one, or in automatic mode the lowest pair that
// carries signal; or, when asked or when the per-stream recording cannot be
// made, a stereo mixdown that we make ourselves, level-corrected for the
// channel count so a pair at full level reads at full level.
//
// Threads: `prepare` may run on any thread (a worker, so the main thread
// never waits on the server) and blocks for at most `kPrepareSeconds`. The
// rest on the main thread: `start` and `stop` never wait on the server, only
// for a callback that is running. The handler runs on the sound server's
// thread, one block at a time.
//
// Lifecycle: created → prepared (recording open; its frames are dropped) →
// started (frames reach the handler) → stopped. Never restarted: every
// attach makes a new tap. When the recording ends on its own (the process
// quit, the server went away, the recording stalled) `streamFailed` says so
// and `failure` says how; the application attaches anew.
//
// Cost: the callback path allocates nothing (a first block's layout line
// aside): a strided copy into buffers of 4096 frames made up front, longer
// blocks in pieces.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/core_audio.h"
#include "capture/tap_source.h"
#include "platform/sound_server.h"

namespace crestline {

class ProcessTap {
public:
    using Mode = TapMode;
    using Source = TapSource;

    // The sink a process plays to, or the default one.
    struct Device {
        std::uint32_t sink = 0;  // the server's index
        std::string name;        // description, for people
        std::string uid;         // the sink's name: stable, keys per-device settings
        int channels = 0;
        std::string channelMap;
        double sampleRate = 0.0;

        bool operator==(const Device&) const = default;
    };

    // One stereo pair of the recorded frames: its left channel.
    struct Pair {
        int buffer = 0;  // always 0: a recording delivers one interleaved buffer
        int channel = 0;

        bool operator==(const Pair&) const = default;
    };

    // `left` and `right` hold `frames` samples each, valid during the call.
    using Handler = std::function<void(const float* left, const float* right, int frames)>;

    static constexpr int kMaxPairs = 64;
    static constexpr float kSignalThreshold = 0.0005f;  // about -66 dBFS
    static constexpr int kScratchFrames = 4096;
    static constexpr double kPrepareSeconds = 2.0;

    ProcessTap(std::int32_t pid, Mode mode, Source source);
    ~ProcessTap();
    ProcessTap(const ProcessTap&) = delete;
    ProcessTap& operator=(const ProcessTap&) = delete;

    // Finds the process's sink input and sink and opens the recording.
    // Throws `CoreAudioError`, leaving nothing open; a server that does not
    // answer within `kPrepareSeconds` fails the step it was at.
    void prepare();
    // Frames reach `handler` from now on. Throws `CoreAudioError` when the
    // tap is not prepared or its recording already ended.
    void start(Handler handler);
    // Closes the recording and returns once no callback runs; then drops the
    // handler. Any time, any number of times.
    void stop();
    // Automatic mode: makes the lowest pair that carried signal since the
    // last call the delivered one.
    void refreshAutoSelection();

    // The sink input through which `pid` plays (the lowest-numbered one),
    // matched on the stream's process or its client's. Throws
    // "Ableton heeft nog geen actief audioproces".
    static std::uint32_t sinkInputOf(std::int32_t pid, Deadline deadline = deadlineIn(kPrepareSeconds));
    // The sink a sink input plays to (none: of all sound), or the default
    // sink when it names none and `allowDefault`. Nothing on any failure,
    // the deadline's included: a main-thread caller passes a short one
    // (deadlineIn(0.1)).
    static std::optional<Device> currentDevice(std::optional<std::uint32_t> sinkInput, bool allowDefault,
                                               Deadline deadline = deadlineIn(kPrepareSeconds));

    std::int32_t pid() const { return pid_; }
    Mode mode() const { return mode_; }
    Source source() const { return source_; }
    double sampleRate() const { return sampleRate_; }
    std::int64_t callbackCount() const { return callbackCount_.load(std::memory_order_relaxed); }
    const std::optional<Device>& device() const { return device_; }
    std::optional<std::uint32_t> sinkInput() const { return sinkInput_; }
    bool usingMixdown() const { return usingMixdown_; }
    double mixdownScale() const { return mixdownScale_; }
    int activePair() const { return activePair_.load(std::memory_order_relaxed); }
    // The pairs found in the first block; empty before it.
    std::vector<Pair> pairMap() const;
    // The rate the server reports now for the recorded sink; never waits.
    std::optional<double> liveSampleRate() const;
    bool streamFailed() const { return failed_.load(std::memory_order_acquire); }
    // How the recording ended, once `streamFailed`.
    std::optional<RecordingEnd> failure() const;

private:
    void openPerStream(SoundServer& server, Deadline deadline);
    void openMixdown(SoundServer& server, Deadline deadline);
    std::unique_ptr<Recording> open(SoundServer& server, Deadline deadline);

    // The server's thread.
    void handleInput(const float* samples, int frames, int channels);
    void publishPairMap(int channels, int frames);
    void deliverMixdown(const float* samples, int frames, int channels);
    void deliverPair(const float* samples, int frames, int channels);
    void raisePairPeaks(const float* samples, int frames, int channels);
    void ended(RecordingEnd how, const std::string& reason);

    const std::int32_t pid_;
    const Mode mode_;
    const Source source_;

    double sampleRate_ = 0.0;
    // Writer: the server's thread; reader: the main thread (watchdog). Relaxed: a count.
    std::atomic<std::int64_t> callbackCount_{0};
    std::optional<Device> device_;
    std::optional<std::uint32_t> sinkInput_;
    bool usingMixdown_ = false;
    double mixdownScale_ = 1.0;  // the level correction
    float mixGain_ = 1.0f;       // the correction and our down-mix's averaging in one factor
    // Writer: main thread (auto selection); reader: the server's thread.
    // Relaxed: one word, no data published with it.
    std::atomic<int> activePair_{0};
    Handler handler_;
    // Release-stored by `start` after `handler_`; the server's thread
    // acquires it before touching the handler.
    std::atomic<bool> started_{false};
    bool loggedLayout_ = false;  // the server's thread only

    // Written once by the first block, then published by a release store of
    // the count; readers acquire the count and read only that many.
    std::array<Pair, kMaxPairs> pairMap_{};
    std::atomic<int> pairCount_{0};
    // Raised by the server's thread, cleared by the main thread; relaxed: a
    // lost peak only delays the next choice.
    std::array<std::atomic<float>, kMaxPairs> pairPeaks_{};

    std::vector<float> scratchL_;  // the server's thread only
    std::vector<float> scratchR_;

    // Written on the server's thread before `failed_` is release-stored.
    RecordingEnd failure_ = RecordingEnd::streamGone;
    std::atomic<bool> failed_{false};

    std::unique_ptr<Recording> recording_;  // last: closed before the rest goes
};

}  // namespace crestline
