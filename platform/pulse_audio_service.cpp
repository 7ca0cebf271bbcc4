#include "platform/pulse_audio_service.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/app_identity.h"
#include "platform/log.h"

namespace crestline {
namespace {

// Object identifiers carry their kind in the top four bits and the server's
// index (or our own counter) below.
enum class Kind : std::uint32_t { none = 0, process = 1, sink = 2, sinkStream = 3, tap = 4, aggregate = 5 };
constexpr std::uint32_t kKindShift = 28;
constexpr std::uint32_t kIndexMask = (1u << kKindShift) - 1;

AudioObjectID encode(Kind kind, std::uint32_t index) {
    if (index > kIndexMask) return kAudioObjectUnknown;
    return (static_cast<std::uint32_t>(kind) << kKindShift) | index;
}
Kind kindOf(AudioObjectID id) { return static_cast<Kind>(id >> kKindShift); }
std::uint32_t indexOf(AudioObjectID id) { return id & kIndexMask; }

constexpr pa_usec_t kTimeoutMicroseconds = 5'000'000;
constexpr pa_usec_t kFragmentMicroseconds = 10'000;
constexpr double kRingSeconds = 1.0;

OSStatus statusOfError(int error) {
    switch (error) {
        case PA_ERR_NOENTITY:
        case PA_ERR_KILLED: return kAudioHardwareBadObjectError;
        case PA_ERR_NOTSUPPORTED: return kAudioHardwareUnsupportedOperationError;
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_CONNECTIONTERMINATED:
        case PA_ERR_TIMEOUT: return kAudioHardwareNotRunningError;
        default: return kAudioHardwareUnspecifiedError;
    }
}

struct SinkInfo {
    std::uint32_t index = PA_INVALID_INDEX;
    std::string name;
    std::string description;
    std::string monitor;
    pa_sample_spec sampleSpec{};
    pa_channel_map map{};

    static SinkInfo from(const pa_sink_info& info) {
        SinkInfo sink;
        sink.index = info.index;
        sink.name = info.name ? info.name : "";
        sink.description = info.description ? info.description : "";
        sink.monitor = info.monitor_source_name ? info.monitor_source_name : "";
        sink.sampleSpec = info.sample_spec;
        sink.map = info.channel_map;
        return sink;
    }
};

struct SinkInputInfo {
    std::uint32_t index = PA_INVALID_INDEX;
    std::uint32_t sink = PA_INVALID_INDEX;
    std::optional<std::int32_t> pid;

    static SinkInputInfo from(const pa_sink_input_info& info) {
        SinkInputInfo input;
        input.index = info.index;
        input.sink = info.sink;
        if (const char* text = pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_ID)) {
            std::int32_t pid = 0;
            const char* end = text + std::strlen(text);
            const auto [rest, error] = std::from_chars(text, end, pid);
            if (error == std::errc() && rest == end) input.pid = pid;
        }
        return input;
    }
};

// Collects the entries of one introspection request; its callback runs on
// the loop's thread under the loop lock.
template <typename Info, typename Item>
struct ListQuery {
    pa_threaded_mainloop* loop = nullptr;
    std::vector<Item> items;
    bool done = false;
    int error = 0;

    static void callback(pa_context* context, const Info* info, int eol, void* userdata) {
        auto* self = static_cast<ListQuery*>(userdata);
        if (eol < 0) {
            self->error = pa_context_errno(context);
            self->done = true;
        } else if (eol > 0) {
            self->done = true;
        } else if (info) {
            self->items.push_back(Item::from(*info));
        }
        pa_threaded_mainloop_signal(self->loop, 0);
    }
};

using SinkQuery = ListQuery<pa_sink_info, SinkInfo>;
using SinkInputQuery = ListQuery<pa_sink_input_info, SinkInputInfo>;

struct ServerQuery {
    pa_threaded_mainloop* loop = nullptr;
    std::optional<std::string> defaultSink;
    bool done = false;

    static void callback(pa_context*, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<ServerQuery*>(userdata);
        if (info && info->default_sink_name) self->defaultSink = info->default_sink_name;
        self->done = true;
        pa_threaded_mainloop_signal(self->loop, 0);
    }
};

}  // namespace

void mixDownToStereo(const float* interleaved, int channels, int frames, float* stereo) {
    if (channels < 1 || frames < 1) return;
    const bool loneLast = channels % 2 == 1;
    const float scale = channels <= 2 ? 1.0f : 2.0f / static_cast<float>(channels);
    for (int i = 0; i < frames; ++i) {
        const float* frame = interleaved + static_cast<std::size_t>(i) * static_cast<std::size_t>(channels);
        float left = 0.0f;
        float right = 0.0f;
        for (int c = 0; c + 1 < channels; c += 2) {
            left += frame[c];
            right += frame[c + 1];
        }
        if (loneLast) {
            left += frame[channels - 1];
            right += frame[channels - 1];
        }
        stereo[2 * i] = left * scale;
        stereo[2 * i + 1] = right * scale;
    }
}

// One IO proc: its record stream, the ring that carries data from the loop's
// thread to the proc's queue, and the buffers the queue side delivers from.
struct PulseProc : std::enable_shared_from_this<PulseProc> {
    AudioObjectID device = 0;
    pa_threaded_mainloop* loop = nullptr;
    SerialQueue* queue = nullptr;
    AudioIOBlock block;
    AudioIOFailure onFailure;

    // Loop lock.
    pa_stream* stream = nullptr;
    bool connected = false;  // the stream reached READY; later failures are reported

    // Written on the main side before the stream connects, read by both.
    int channels = 0;
    bool mixdown = false;
    int maxFrames = 0;  // frames per delivered buffer at most: one fragment

    std::atomic<bool> running{false};
    std::atomic<bool> stopped{false};  // by its owner: nothing is reported any more
    std::atomic<bool> failed{false};
    std::atomic<bool> deliveryPosted{false};

    std::mutex ringMutex;
    std::vector<float> ring;  // interleaved samples
    std::size_t readCount = 0;
    std::size_t writeCount = 0;

    // Queue only.
    std::vector<float> chunk;
    std::vector<float> mixed;

    void allocate(int channelCount, std::uint32_t rate, bool isMixdown) {
        channels = channelCount;
        mixdown = isMixdown;
        maxFrames = std::max(1, static_cast<int>(rate / 100));
        const auto ringFrames = std::max<std::size_t>(4096, static_cast<std::size_t>(rate * kRingSeconds));
        std::scoped_lock lock(ringMutex);
        ring.assign(ringFrames * static_cast<std::size_t>(channels), 0.0f);
        readCount = writeCount = 0;
        chunk.assign(static_cast<std::size_t>(maxFrames) * static_cast<std::size_t>(channels), 0.0f);
        mixed.assign(static_cast<std::size_t>(maxFrames) * 2, 0.0f);
    }

    // Loop thread. Samples that do not fit while the queue lags are dropped.
    void push(const void* data, std::size_t bytes) {
        const std::size_t frameSamples = static_cast<std::size_t>(channels);
        std::size_t samples = bytes / sizeof(float);
        samples -= samples % frameSamples;
        std::scoped_lock lock(ringMutex);
        const std::size_t capacity = ring.size();
        const std::size_t room = capacity - (writeCount - readCount);
        samples = std::min(samples, room - room % frameSamples);
        const auto* source = static_cast<const std::byte*>(data);
        std::size_t done = 0;
        while (done < samples) {
            const std::size_t at = (writeCount + done) % capacity;
            const std::size_t run = std::min(samples - done, capacity - at);
            std::memcpy(ring.data() + at, source + done * sizeof(float), run * sizeof(float));
            done += run;
        }
        writeCount += samples;
    }

    void postDelivery() {
        if (deliveryPosted.exchange(true)) return;
        queue->async([self = shared_from_this()] { self->deliver(); });
    }

    // Queue. One buffer per fragment's worth of frames.
    void deliver() {
        deliveryPosted = false;
        while (running) {
            std::size_t frames = 0;
            {
                std::scoped_lock lock(ringMutex);
                const std::size_t capacity = ring.size();
                frames = std::min((writeCount - readCount) / static_cast<std::size_t>(channels),
                                  static_cast<std::size_t>(maxFrames));
                const std::size_t samples = frames * static_cast<std::size_t>(channels);
                std::size_t done = 0;
                while (done < samples) {
                    const std::size_t at = (readCount + done) % capacity;
                    const std::size_t run = std::min(samples - done, capacity - at);
                    std::memcpy(chunk.data() + done, ring.data() + at, run * sizeof(float));
                    done += run;
                }
                readCount += samples;
            }
            if (frames == 0) return;
            AudioBuffer buffer;
            if (mixdown) {
                mixDownToStereo(chunk.data(), channels, static_cast<int>(frames), mixed.data());
                buffer = {2, static_cast<std::uint32_t>(frames * 2 * sizeof(float)), mixed.data()};
            } else {
                buffer = {static_cast<std::uint32_t>(channels),
                          static_cast<std::uint32_t>(frames * static_cast<std::size_t>(channels) * sizeof(float)),
                          chunk.data()};
            }
            block(std::span<const AudioBuffer>(&buffer, 1));
        }
    }

    // Loop thread, loop lock held.
    void reportFailure(OSStatus status, std::string reason) {
        if (!connected || stopped || failed.exchange(true)) return;
        queue->async([self = shared_from_this(), status, reason = std::move(reason)] {
            self->running = false;
            if (!self->stopped && self->onFailure) self->onFailure(status, reason);
        });
    }
};

struct PulseAudioService::Impl {
    struct Tap {
        TapDescription description;
        std::optional<std::uint32_t> sinkInput;  // a per-process tap records only this input
        std::string sinkName;
    };
    struct Aggregate {
        AggregateDescription description;
        AudioObjectID tap = 0;
    };

    // Holds the loop lock. Never taken on the loop's own thread.
    class Lock {
    public:
        explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    pa_threaded_mainloop* loop = nullptr;
    bool loopRunning = false;
    pa_context* context = nullptr;
    bool reportedUnreachable = false;
    std::map<AudioObjectID, Tap> taps;
    std::map<AudioObjectID, Aggregate> aggregates;
    std::map<AudioDeviceIOProcID, std::shared_ptr<PulseProc>> procs;
    std::uint32_t nextTap = 1;
    std::uint32_t nextAggregate = 1;
    AudioDeviceIOProcID nextProc = 1;

    Impl() {
        loop = pa_threaded_mainloop_new();
        if (loop && pa_threaded_mainloop_start(loop) == 0) loopRunning = true;
    }

    ~Impl() {
        if (!loop) return;
        if (loopRunning) {
            {
                Lock lock(loop);
                for (auto& [id, proc] : procs) {
                    proc->stopped = true;
                    proc->running = false;
                    closeStream(*proc);
                }
                dropContext();
            }
            pa_threaded_mainloop_stop(loop);
        }
        pa_threaded_mainloop_free(loop);
    }

    // --- waiting (loop lock held)

    struct Timeout {
        pa_threaded_mainloop* loop = nullptr;
        bool expired = false;
    };

    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* timeout = static_cast<Timeout*>(userdata);
        timeout->expired = true;
        pa_threaded_mainloop_signal(timeout->loop, 0);
    }

    // Waits until `done` holds or a few seconds passed; true when it holds.
    template <typename Done>
    bool waitUntil(Done done) {
        if (done()) return true;
        Timeout timeout{loop, false};
        pa_time_event* timer = pa_context_rttime_new(context, pa_rtclock_now() + kTimeoutMicroseconds, onTimeout, &timeout);
        while (!done() && !timeout.expired) pa_threaded_mainloop_wait(loop);
        if (timer) pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return done();
    }

    bool contextGood() const { return context && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); }

    // Waits for an introspection request; a failed context or a timeout
    // cancels it so that its callback never runs against a dead query.
    OSStatus finish(pa_operation* operation, const bool& done, int error) {
        if (!operation) return statusOfError(pa_context_errno(context));
        const bool finished = waitUntil([&] { return done || !contextGood(); }) && done;
        if (!finished) pa_operation_cancel(operation);
        pa_operation_unref(operation);
        if (!finished) return kAudioHardwareNotRunningError;
        return error == 0 ? kAudioHardwareNoError : statusOfError(error);
    }

    // --- connection (loop lock held)

    static void onContextState(pa_context*, void* userdata) {
        pa_threaded_mainloop_signal(static_cast<Impl*>(userdata)->loop, 0);
    }

    void dropContext() {
        if (!context) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    OSStatus connect() {
        if (!loopRunning) return kAudioHardwareNotRunningError;
        if (context && pa_context_get_state(context) == PA_CONTEXT_READY) return kAudioHardwareNoError;
        // A failed context (the server went away) is replaced: a restarted
        // server is found again on the next call.
        dropContext();
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Crestline");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, std::string(kAppIdentifier).c_str());
        context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), "Crestline", properties);
        pa_proplist_free(properties);
        if (!context) return kAudioHardwareNotRunningError;
        pa_context_set_state_callback(context, onContextState, this);
        int error = PA_ERR_CONNECTIONREFUSED;
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0) {
            waitUntil([&] {
                const auto state = pa_context_get_state(context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            });
            if (pa_context_get_state(context) == PA_CONTEXT_READY) {
                reportedUnreachable = false;
                return kAudioHardwareNoError;
            }
            error = pa_context_errno(context);
            if (error == PA_OK) error = PA_ERR_TIMEOUT;
        }
        if (!reportedUnreachable) {
            reportedUnreachable = true;
            log(std::string("Crestline: geluidsserver niet bereikbaar (") + pa_strerror(error) + ")");
        }
        dropContext();
        return kAudioHardwareNotRunningError;
    }

    // --- server queries (loop lock held, connected)

    OSStatus sinkInputs(std::vector<SinkInputInfo>& inputs) {
        SinkInputQuery query{loop, {}, false, 0};
        pa_operation* operation = pa_context_get_sink_input_info_list(context, SinkInputQuery::callback, &query);
        const OSStatus status = finish(operation, query.done, query.error);
        inputs = std::move(query.items);
        return status;
    }

    OSStatus sinkInput(std::uint32_t index, SinkInputInfo& input) {
        SinkInputQuery query{loop, {}, false, 0};
        pa_operation* operation = pa_context_get_sink_input_info(context, index, SinkInputQuery::callback, &query);
        const OSStatus status = finish(operation, query.done, query.error);
        if (status != kAudioHardwareNoError) return status;
        if (query.items.empty()) return kAudioHardwareBadObjectError;
        input = query.items.front();
        return kAudioHardwareNoError;
    }

    OSStatus sinkByIndex(std::uint32_t index, SinkInfo& sink) {
        SinkQuery query{loop, {}, false, 0};
        pa_operation* operation = pa_context_get_sink_info_by_index(context, index, SinkQuery::callback, &query);
        return takeSink(finish(operation, query.done, query.error), query, sink);
    }

    OSStatus sinkByName(const std::string& name, SinkInfo& sink) {
        if (name.empty()) return kAudioHardwareBadDeviceError;
        SinkQuery query{loop, {}, false, 0};
        pa_operation* operation =
            pa_context_get_sink_info_by_name(context, name.c_str(), SinkQuery::callback, &query);
        return takeSink(finish(operation, query.done, query.error), query, sink);
    }

    static OSStatus takeSink(OSStatus status, SinkQuery& query, SinkInfo& sink) {
        if (status == kAudioHardwareBadObjectError) return kAudioHardwareBadDeviceError;
        if (status != kAudioHardwareNoError) return status;
        if (query.items.empty()) return kAudioHardwareBadDeviceError;
        sink = query.items.front();
        return kAudioHardwareNoError;
    }

    OSStatus defaultSinkName(std::optional<std::string>& name) {
        ServerQuery query{loop, {}, false};
        pa_operation* operation = pa_context_get_server_info(context, ServerQuery::callback, &query);
        const OSStatus status = finish(operation, query.done, 0);
        name = query.defaultSink;
        return status;
    }

    // The sink a tap records from now: a per-process tap follows its input.
    OSStatus sinkOfTap(const Tap& tap, SinkInfo& sink) {
        if (tap.sinkInput) {
            SinkInputInfo input;
            if (const OSStatus status = sinkInput(*tap.sinkInput, input); status != kAudioHardwareNoError) return status;
            return sinkByIndex(input.sink, sink);
        }
        return sinkByName(tap.sinkName, sink);
    }

    // --- properties (loop lock held)

    OSStatus value(AudioObjectID object, const AudioObjectPropertyAddress& address,
                   std::span<const std::byte> qualifier, std::vector<std::byte>& bytes) {
        if (const OSStatus status = connect(); status != kAudioHardwareNoError) return status;
        const auto selector = address.selector;
        const bool input = address.scope == kAudioObjectPropertyScopeInput;
        if (object == kAudioObjectSystemObject) {
            if (selector == kAudioHardwarePropertyTranslatePIDToProcessObject) {
                if (qualifier.size() != sizeof(std::int32_t)) return kAudioHardwareBadPropertySizeError;
                std::int32_t pid = 0;
                std::memcpy(&pid, qualifier.data(), sizeof pid);
                std::vector<SinkInputInfo> inputs;
                if (const OSStatus status = sinkInputs(inputs); status != kAudioHardwareNoError) return status;
                AudioObjectID found = kAudioObjectUnknown;
                std::uint32_t lowest = PA_INVALID_INDEX;
                for (const auto& entry : inputs) {
                    if (entry.pid == pid && entry.index < lowest) {
                        lowest = entry.index;
                        found = encode(Kind::process, entry.index);
                    }
                }
                bytes = propertyBytes(found);
                return kAudioHardwareNoError;
            }
            if (selector == kAudioHardwarePropertyDefaultOutputDevice) {
                std::optional<std::string> name;
                if (const OSStatus status = defaultSinkName(name); status != kAudioHardwareNoError) return status;
                AudioObjectID device = kAudioObjectUnknown;
                SinkInfo sink;
                if (name && sinkByName(*name, sink) == kAudioHardwareNoError) device = encode(Kind::sink, sink.index);
                bytes = propertyBytes(device);
                return kAudioHardwareNoError;
            }
            return kAudioHardwareUnknownPropertyError;
        }
        switch (kindOf(object)) {
            case Kind::process: {
                if (selector != kAudioProcessPropertyDevices) return kAudioHardwareUnknownPropertyError;
                SinkInputInfo entry;
                if (const OSStatus status = sinkInput(indexOf(object), entry); status != kAudioHardwareNoError) {
                    return status;
                }
                std::vector<AudioObjectID> devices;
                if (!input && entry.sink != PA_INVALID_INDEX) devices.push_back(encode(Kind::sink, entry.sink));
                bytes = propertyBytes(devices);
                return kAudioHardwareNoError;
            }
            case Kind::sink: {
                SinkInfo sink;
                if (const OSStatus status = sinkByIndex(indexOf(object), sink); status != kAudioHardwareNoError) {
                    return status;
                }
                if (selector == kAudioDevicePropertyStreams) {
                    std::vector<AudioObjectID> streams;
                    if (!input) streams.push_back(encode(Kind::sinkStream, sink.index));
                    bytes = propertyBytes(streams);
                    return kAudioHardwareNoError;
                }
                if (selector == kAudioDevicePropertyNominalSampleRate) {
                    bytes = propertyBytes(static_cast<double>(sink.sampleSpec.rate));
                    return kAudioHardwareNoError;
                }
                return kAudioHardwareUnknownPropertyError;
            }
            case Kind::sinkStream: {
                if (selector != kAudioStreamPropertyVirtualFormat) return kAudioHardwareUnknownPropertyError;
                SinkInfo sink;
                if (const OSStatus status = sinkByIndex(indexOf(object), sink); status != kAudioHardwareNoError) {
                    return status == kAudioHardwareBadDeviceError ? kAudioHardwareBadStreamError : status;
                }
                bytes = propertyBytes(floatFormat(sink.sampleSpec.rate, sink.sampleSpec.channels));
                return kAudioHardwareNoError;
            }
            case Kind::tap: {
                if (selector != kAudioTapPropertyFormat) return kAudioHardwareUnknownPropertyError;
                const auto tap = taps.find(object);
                if (tap == taps.end()) return kAudioHardwareBadObjectError;
                SinkInfo sink;
                if (const OSStatus status = sinkOfTap(tap->second, sink); status != kAudioHardwareNoError) {
                    return status;
                }
                const std::uint32_t channels = tap->second.description.isMixdown() ? 2 : sink.sampleSpec.channels;
                bytes = propertyBytes(floatFormat(sink.sampleSpec.rate, channels));
                return kAudioHardwareNoError;
            }
            case Kind::aggregate: {
                if (selector != kAudioDevicePropertyNominalSampleRate) return kAudioHardwareUnknownPropertyError;
                const auto aggregate = aggregates.find(object);
                if (aggregate == aggregates.end()) return kAudioHardwareBadObjectError;
                const auto tap = taps.find(aggregate->second.tap);
                if (tap == taps.end()) return kAudioHardwareBadObjectError;
                SinkInfo sink;
                if (const OSStatus status = sinkOfTap(tap->second, sink); status != kAudioHardwareNoError) {
                    return status;
                }
                bytes = propertyBytes(static_cast<double>(sink.sampleSpec.rate));
                return kAudioHardwareNoError;
            }
            case Kind::none: break;
        }
        return kAudioHardwareBadObjectError;
    }

    // --- streams (loop lock held)

    static void onStreamState(pa_stream* stream, void* userdata) {
        auto* proc = static_cast<PulseProc*>(userdata);
        const auto state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            const int error = pa_context_errno(pa_stream_get_context(stream));
            proc->reportFailure(kAudioHardwareNotRunningError,
                                state == PA_STREAM_FAILED ? pa_strerror(error) : "stream beëindigd");
        }
        pa_threaded_mainloop_signal(proc->loop, 0);
    }

    static void onStreamRead(pa_stream* stream, std::size_t, void* userdata) {
        auto* proc = static_cast<PulseProc*>(userdata);
        for (;;) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
            if (data) proc->push(data, bytes);  // a hole (no data) delivers nothing
            pa_stream_drop(stream);
        }
        proc->postDelivery();
    }

    static void closeStream(PulseProc& proc) {
        if (!proc.stream) return;
        pa_stream_set_state_callback(proc.stream, nullptr, nullptr);
        pa_stream_set_read_callback(proc.stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(proc.stream))) pa_stream_disconnect(proc.stream);
        pa_stream_unref(proc.stream);
        proc.stream = nullptr;
        proc.connected = false;
    }

    OSStatus start(PulseProc& proc) {
        const auto aggregate = aggregates.find(proc.device);
        if (aggregate == aggregates.end()) return kAudioHardwareBadDeviceError;
        const auto tap = taps.find(aggregate->second.tap);
        if (tap == taps.end()) return kAudioHardwareBadObjectError;
        SinkInfo sink;
        if (const OSStatus status = sinkOfTap(tap->second, sink); status != kAudioHardwareNoError) return status;
        if (sink.sampleSpec.channels < 1 || sink.sampleSpec.rate < 1) return kAudioDeviceUnsupportedFormatError;

        pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE, sink.sampleSpec.rate, sink.sampleSpec.channels};
        proc.allocate(sink.sampleSpec.channels, sink.sampleSpec.rate, tap->second.description.isMixdown());
        proc.stream = pa_stream_new(context, "Crestline", &sampleSpec, &sink.map);
        if (!proc.stream) return statusOfError(pa_context_errno(context));
        if (tap->second.sinkInput && pa_stream_set_monitor_stream(proc.stream, *tap->second.sinkInput) != 0) {
            const OSStatus status = statusOfError(pa_context_errno(context));
            closeStream(proc);
            return status;
        }
        pa_stream_set_state_callback(proc.stream, onStreamState, &proc);
        pa_stream_set_read_callback(proc.stream, onStreamRead, &proc);

        // Without our own fragment size the server grants seconds; the sink's
        // own channel map and no remixing keep the channels apart; a stream
        // that cannot stay with its input fails instead of moving silently.
        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(-1);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentMicroseconds, &sampleSpec));
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_NO_REMIX_CHANNELS |
                                                          PA_STREAM_DONT_MOVE);
        proc.stopped = false;
        proc.running = true;
        if (pa_stream_connect_record(proc.stream, sink.monitor.c_str(), &attributes, flags) != 0) {
            const OSStatus status = statusOfError(pa_context_errno(context));
            proc.running = false;
            closeStream(proc);
            return status;
        }
        waitUntil([&] {
            const auto state = pa_stream_get_state(proc.stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (pa_stream_get_state(proc.stream) != PA_STREAM_READY) {
            int error = pa_context_errno(context);
            if (error == PA_OK) error = PA_ERR_TIMEOUT;
            proc.running = false;
            closeStream(proc);
            return statusOfError(error);
        }
        proc.connected = true;
        return kAudioHardwareNoError;
    }
};

PulseAudioService::PulseAudioService() : impl_(std::make_unique<Impl>()) {}

PulseAudioService::~PulseAudioService() = default;

OSStatus PulseAudioService::getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                                std::span<const std::byte> qualifier, std::uint32_t& size) {
    Impl::Lock lock(impl_->loop);
    std::vector<std::byte> bytes;
    const OSStatus status = impl_->value(object, address, qualifier, bytes);
    if (status == kAudioHardwareNoError) size = static_cast<std::uint32_t>(bytes.size());
    return status;
}

OSStatus PulseAudioService::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                            std::span<const std::byte> qualifier, std::uint32_t& size, void* data) {
    Impl::Lock lock(impl_->loop);
    std::vector<std::byte> bytes;
    const OSStatus status = impl_->value(object, address, qualifier, bytes);
    if (status != kAudioHardwareNoError) return status;
    return copyPropertyValue(bytes, address.selector, size, data);
}

OSStatus PulseAudioService::getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                              std::optional<std::string>& value) {
    Impl::Lock lock(impl_->loop);
    if (const OSStatus status = impl_->connect(); status != kAudioHardwareNoError) return status;
    if (kindOf(object) != Kind::sink) {
        return object == kAudioObjectSystemObject || kindOf(object) != Kind::none ? kAudioHardwareUnknownPropertyError
                                                                                  : kAudioHardwareBadObjectError;
    }
    SinkInfo sink;
    if (const OSStatus status = impl_->sinkByIndex(indexOf(object), sink); status != kAudioHardwareNoError) {
        return status;
    }
    if (address.selector == kAudioObjectPropertyName) {
        value = sink.description;
    } else if (address.selector == kAudioDevicePropertyDeviceUID) {
        value = sink.name;
    } else {
        return kAudioHardwareUnknownPropertyError;
    }
    return kAudioHardwareNoError;
}

OSStatus PulseAudioService::createProcessTap(const TapDescription& description, AudioObjectID& tap) {
    Impl::Lock lock(impl_->loop);
    if (const OSStatus status = impl_->connect(); status != kAudioHardwareNoError) return status;
    using TapKind = TapDescription::Kind;
    Impl::Tap entry{description, std::nullopt, {}};
    const bool ofProcess = description.kind == TapKind::processes || description.kind == TapKind::stereoMixdown;
    if (ofProcess) {
        // One record stream follows one sink input.
        if (description.processes.size() != 1) return kAudioHardwareUnsupportedOperationError;
        const AudioObjectID process = description.processes.front();
        if (kindOf(process) != Kind::process) return kAudioHardwareBadObjectError;
        SinkInputInfo input;
        if (const OSStatus status = impl_->sinkInput(indexOf(process), input); status != kAudioHardwareNoError) {
            return status;
        }
        entry.sinkInput = input.index;
    } else if (!description.processes.empty()) {
        // A monitor carries every stream of its sink; none can be left out.
        return kAudioHardwareUnsupportedOperationError;
    }
    SinkInfo sink;
    if (!description.isMixdown()) {
        if (description.stream != 0) return kAudioHardwareBadStreamError;
        if (const OSStatus status = impl_->sinkByName(description.deviceUID, sink); status != kAudioHardwareNoError) {
            return status;
        }
    } else if (entry.sinkInput) {
        if (const OSStatus status = impl_->sinkOfTap(entry, sink); status != kAudioHardwareNoError) return status;
    } else {
        std::optional<std::string> name;
        if (const OSStatus status = impl_->defaultSinkName(name); status != kAudioHardwareNoError) return status;
        if (!name) return kAudioHardwareBadDeviceError;
        if (const OSStatus status = impl_->sinkByName(*name, sink); status != kAudioHardwareNoError) return status;
    }
    entry.sinkName = sink.name;
    const AudioObjectID id = encode(Kind::tap, impl_->nextTap++);
    if (id == kAudioObjectUnknown) return kAudioHardwareIllegalOperationError;
    impl_->taps[id] = std::move(entry);
    tap = id;
    return kAudioHardwareNoError;
}

OSStatus PulseAudioService::destroyProcessTap(AudioObjectID tap) {
    Impl::Lock lock(impl_->loop);
    return impl_->taps.erase(tap) == 1 ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

OSStatus PulseAudioService::createAggregateDevice(const AggregateDescription& description, AudioObjectID& device) {
    Impl::Lock lock(impl_->loop);
    // The server cannot keep several record streams in step: one tap per
    // aggregate, which is all a sink's single stream needs.
    if (description.taps.size() != 1) return kAudioHardwareUnsupportedOperationError;
    const auto tap = std::find_if(impl_->taps.begin(), impl_->taps.end(), [&](const auto& entry) {
        return entry.second.description.uuid == description.taps.front().uid;
    });
    if (tap == impl_->taps.end()) return kAudioHardwareBadObjectError;
    if (description.mainSubDevice) {
        if (const OSStatus status = impl_->connect(); status != kAudioHardwareNoError) return status;
        SinkInfo sink;
        if (const OSStatus status = impl_->sinkByName(*description.mainSubDevice, sink); status != kAudioHardwareNoError) {
            return status;
        }
    }
    const AudioObjectID id = encode(Kind::aggregate, impl_->nextAggregate++);
    if (id == kAudioObjectUnknown) return kAudioHardwareIllegalOperationError;
    impl_->aggregates[id] = {description, tap->first};
    device = id;
    return kAudioHardwareNoError;
}

OSStatus PulseAudioService::destroyAggregateDevice(AudioObjectID device) {
    Impl::Lock lock(impl_->loop);
    return impl_->aggregates.erase(device) == 1 ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

OSStatus PulseAudioService::createIOProcID(AudioObjectID device, SerialQueue& queue, AudioIOBlock block,
                                           AudioIOFailure onFailure, AudioDeviceIOProcID& proc) {
    Impl::Lock lock(impl_->loop);
    if (!impl_->aggregates.contains(device)) return kAudioHardwareBadDeviceError;
    if (!block) return kAudioHardwareIllegalOperationError;
    auto entry = std::make_shared<PulseProc>();
    entry->device = device;
    entry->loop = impl_->loop;
    entry->queue = &queue;
    entry->block = std::move(block);
    entry->onFailure = std::move(onFailure);
    proc = impl_->nextProc++;
    impl_->procs[proc] = std::move(entry);
    return kAudioHardwareNoError;
}

OSStatus PulseAudioService::startDevice(AudioObjectID device, AudioDeviceIOProcID proc) {
    Impl::Lock lock(impl_->loop);
    const auto it = impl_->procs.find(proc);
    if (it == impl_->procs.end() || it->second->device != device) return kAudioHardwareBadObjectError;
    if (it->second->stream) return kAudioHardwareNoError;
    if (const OSStatus status = impl_->connect(); status != kAudioHardwareNoError) return status;
    return impl_->start(*it->second);
}

OSStatus PulseAudioService::stopDevice(AudioObjectID device, AudioDeviceIOProcID proc) {
    std::shared_ptr<PulseProc> entry;
    {
        Impl::Lock lock(impl_->loop);
        const auto it = impl_->procs.find(proc);
        if (it == impl_->procs.end() || it->second->device != device) return kAudioHardwareBadObjectError;
        entry = it->second;
        entry->stopped = true;
        entry->running = false;
        Impl::closeStream(*entry);
    }
    // No more data arrives; wait out a delivery that is running now.
    entry->queue->drain();
    return kAudioHardwareNoError;
}

OSStatus PulseAudioService::destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID proc) {
    std::shared_ptr<PulseProc> entry;
    {
        Impl::Lock lock(impl_->loop);
        const auto it = impl_->procs.find(proc);
        if (it == impl_->procs.end() || it->second->device != device) return kAudioHardwareBadObjectError;
        entry = std::move(it->second);
        impl_->procs.erase(it);
        entry->stopped = true;
        entry->running = false;
        Impl::closeStream(*entry);
    }
    entry->queue->drain();
    return kAudioHardwareNoError;
}

}  // namespace crestline
