// Captures what one process plays, or all sound of the system (pid 0),
// without sitting in the playback path: taps on the streams of the output
// device the process plays to, wrapped in a private aggregate device whose IO
// callback hands every block to a handler as two de-interleaved float
// channels. When per-stream taps cannot be made it falls back to one stereo
// mixdown tap, corrected in level for the device's channel count. Of a
// multi-channel device it delivers one stereo pair: a fixed one, or in
// automatic mode the lowest pair that carries signal.
//
// Threads: construction, `prepare`, `start`, `stop` and
// `refreshAutoSelection` on the main thread. The IO callback and the handler
// run on the tap's own serial queue ("<app id>.audio"), one at a time.
// `stop` returns once no callback runs; the destructor stops.
//
// Cost: the callback path is a strided copy into buffers allocated up front
// (4096 frames, grown only when a callback brings more).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capture/core_audio.h"
#include "capture/tap_source.h"
#include "platform/audio_service.h"
#include "platform/serial_queue.h"

namespace crestline {

class ProcessTap {
public:
    using Mode = TapMode;
    using Source = TapSource;

    struct Device {
        AudioObjectID id = 0;
        std::string name;
        std::string uid;
        std::vector<int> streamChannels;  // per output stream, 0 where the format cannot be read

        bool operator==(const Device&) const = default;
    };

    // One stereo pair of the first callback's buffers: buffer index (after
    // the skipped ones) and its left channel.
    struct Pair {
        int buffer = 0;
        int channel = 0;

        bool operator==(const Pair&) const = default;
    };

    // `left` and `right` hold `frames` samples each, valid during the call.
    using Handler = std::function<void(const float* left, const float* right, int frames)>;

    static constexpr int kMaxPairs = 64;
    static constexpr float kSignalThreshold = 0.0005f;  // about -66 dBFS
    static constexpr int kInitialScratchFrames = 4096;

    ProcessTap(std::int32_t pid, Mode mode, Source source);
    ~ProcessTap();
    ProcessTap(const ProcessTap&) = delete;
    ProcessTap& operator=(const ProcessTap&) = delete;

    // Finds the process and its device, creates the taps and the aggregate.
    // Throws `CoreAudioError`, leaving no audio object behind.
    void prepare();
    // Installs the handler and starts the IO callback. Throws
    // `CoreAudioError`, leaving no audio object behind.
    void start(Handler handler);
    // Stops the callback and waits until none runs, then destroys the IO
    // callback, the aggregate and the taps and drops the handler. Any time,
    // any number of times.
    void stop();
    // Automatic mode: makes the lowest pair that carried signal since the
    // last call the delivered one.
    void refreshAutoSelection();

    // The output device of a process object (0: of the system), or the
    // default output device when the process names none and `allowDefault`.
    static std::optional<Device> currentDevice(AudioObjectID processObject, bool allowDefault);

    std::int32_t pid() const { return pid_; }
    Mode mode() const { return mode_; }
    Source source() const { return source_; }
    double sampleRate() const { return sampleRate_; }
    std::int64_t callbackCount() const { return callbackCount_.load(std::memory_order_relaxed); }
    const std::optional<Device>& device() const { return device_; }
    bool usingMixdown() const { return usingMixdown_; }
    double mixdownScale() const { return mixdownScale_; }
    int activePair() const { return activePair_.load(std::memory_order_relaxed); }
    AudioObjectID processObjectID() const { return processObjectID_; }
    const std::vector<AudioObjectID>& tapIDs() const { return tapIDs_; }
    const std::vector<std::string>& tapUIDs() const { return tapUIDs_; }
    AudioObjectID aggregateID() const { return aggregateID_; }
    bool hasIOProc() const { return ioProcID_ != 0; }
    int skipBuffers() const { return skipBuffers_; }
    // The pairs found in the first callback; empty before it.
    std::vector<Pair> pairMap() const;
    // The stream stopped delivering on its own (the process quit, the
    // server went away): the application's health check attaches anew.
    bool streamFailed() const { return streamFailed_.load(std::memory_order_acquire); }

private:
    void createTaps();
    void createPerStreamTaps();
    void createMixdownTap();
    void createAggregate();
    void destroyTaps();

    // Capture queue.
    void handleInput(std::span<const AudioBuffer> input);
    void publishPairMap(std::span<const AudioBuffer> input, int first, int available);
    void logLayout(std::span<const AudioBuffer> input, int pairs) const;
    void deliverMixdown(std::span<const AudioBuffer> input, int first, int available);
    void deliverPair(std::span<const AudioBuffer> input, int first);
    void raisePairPeaks(std::span<const AudioBuffer> input, int first);
    void growScratch(std::size_t frames);
    void streamStopped(OSStatus status, const std::string& reason);

    const std::int32_t pid_;
    const Mode mode_;
    const Source source_;
    // Taps and devices are torn down in the service that made them, even if
    // the current service is replaced meanwhile.
    const std::shared_ptr<AudioService> service_;

    double sampleRate_ = 0.0;
    // Writer: capture queue; readers: main thread (watchdog). Relaxed: a count.
    std::atomic<std::int64_t> callbackCount_{0};
    std::optional<Device> device_;
    bool usingMixdown_ = false;
    double mixdownScale_ = 1.0;
    // Writer: main thread (auto selection); reader: capture queue. Relaxed:
    // one word, no data published with it.
    std::atomic<int> activePair_{0};
    AudioObjectID processObjectID_ = 0;
    std::vector<AudioObjectID> tapIDs_;
    std::vector<std::string> tapUIDs_;
    AudioObjectID aggregateID_ = 0;
    AudioDeviceIOProcID ioProcID_ = 0;
    int skipBuffers_ = 0;
    Handler handler_;
    bool loggedLayout_ = false;  // capture queue only

    // Written once by the first callback, then published by a release store
    // of the count; readers acquire the count and read only that many.
    std::array<Pair, kMaxPairs> pairMap_{};
    std::atomic<int> pairCount_{0};
    // Raised by the capture queue, cleared by the main thread; relaxed: a
    // lost peak only delays the next choice.
    std::array<std::atomic<float>, kMaxPairs> pairPeaks_{};

    std::vector<float> scratchL_;  // capture queue only (and `stop` after the callback is gone)
    std::vector<float> scratchR_;
    std::atomic<bool> streamFailed_{false};

    SerialQueue queue_;
};

}  // namespace crestline
