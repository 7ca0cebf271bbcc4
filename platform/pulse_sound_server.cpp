#include "platform/pulse_sound_server.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <map>

#include "platform/app_identity.h"
#include "platform/log.h"

namespace crestline {
namespace {

constexpr pa_usec_t kFragmentMicroseconds = 10'000;
// After this much digital silence nobody watches the sound closely (the bar
// stops drawing too), so the server may wake us ten times less often.
constexpr pa_usec_t kQuietFragmentMicroseconds = 100'000;
constexpr double kQuietAfterSeconds = 4.0;
constexpr pa_usec_t kWatchMicroseconds = 1'000'000;
constexpr pa_usec_t kStallMicroseconds = 3'000'000;    // far beyond an idle sink's first wake-up
constexpr pa_usec_t kNoAnswerMicroseconds = 2'000'000;

ServerError errorOf(int error) {
    switch (error) {
        case PA_ERR_NOENTITY:
        case PA_ERR_KILLED: return {ServerStatus::noSuchEntity, pa_strerror(error)};
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_CONNECTIONTERMINATED:
        case PA_ERR_TIMEOUT: return {ServerStatus::unreachable, pa_strerror(error)};
        default: return {ServerStatus::refused, pa_strerror(error)};
    }
}

std::optional<std::int32_t> pidOf(const pa_proplist* properties) {
    const char* text = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
    if (text == nullptr) return std::nullopt;
    std::int32_t pid = 0;
    const char* end = text + std::strlen(text);
    const auto [rest, error] = std::from_chars(text, end, pid);
    if (error != std::errc() || rest != end || pid <= 0) return std::nullopt;
    return pid;
}

Sink sinkOf(const pa_sink_info& info) {
    char map[PA_CHANNEL_MAP_SNPRINT_MAX];
    pa_channel_map_snprint(map, sizeof map, &info.channel_map);
    return {info.index,        info.name ? info.name : "", info.description ? info.description : "",
            info.sample_spec.channels, map, static_cast<double>(info.sample_spec.rate)};
}

// Collects one introspection answer; the callbacks run on the loop thread
// under the loop lock.
template <typename Item>
struct Query {
    pa_threaded_mainloop* loop = nullptr;
    std::vector<Item> items;
    std::vector<std::uint32_t> clients;  // of each sink input
    std::map<std::uint32_t, std::int32_t> clientPids;
    bool done = false;
    int error = 0;

    void end(pa_context* context, int eol) {
        if (eol < 0) error = pa_context_errno(context);
        done = true;
        pa_threaded_mainloop_signal(loop, 0);
    }
    static void onSink(pa_context* context, const pa_sink_info* info, int eol, void* self) {
        auto* query = static_cast<Query*>(self);
        if (eol != 0) return query->end(context, eol);
        if (info) query->items.push_back(sinkOf(*info));
    }
    static void onSinkInput(pa_context* context, const pa_sink_input_info* info, int eol, void* self) {
        auto* query = static_cast<Query*>(self);
        if (eol != 0) return query->end(context, eol);
        if (!info) return;
        // The client's pid stands in later where the stream names none.
        query->items.push_back({info->index, info->sink, pidOf(info->proplist), info->corked != 0});
        query->clients.push_back(info->client);
        if (!query->items.back().pid && info->client != PA_INVALID_INDEX) query->clientPids[info->client] = 0;
    }
    static void onClient(pa_context* context, const pa_client_info* info, int eol, void* self) {
        auto* query = static_cast<Query*>(self);
        if (eol != 0) return query->end(context, eol);
        if (info) {
            if (const auto pid = pidOf(info->proplist)) query->clientPids[info->index] = *pid;
        }
    }
};

}  // namespace

struct PulseSoundServer::Impl {
    // Holds the loop lock; never taken on the loop's own thread.
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
    pa_context* context = nullptr;  // loop lock
    bool reportedUnreachable = false;

    Impl() {
        loop = pa_threaded_mainloop_new();
        if (loop == nullptr) return;
        pa_threaded_mainloop_set_name(loop, "crestline-audio");
        loopRunning = pa_threaded_mainloop_start(loop) == 0;
    }

    ~Impl() {
        if (loop == nullptr) return;
        if (loopRunning) {
            {
                Lock lock(loop);
                dropContext();
            }
            pa_threaded_mainloop_stop(loop);
        }
        pa_threaded_mainloop_free(loop);
    }

    // --- waiting (loop lock held)

    struct Alarm {
        pa_threaded_mainloop* loop = nullptr;
        bool rang = false;
    };

    static void onAlarm(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* alarm = static_cast<Alarm*>(self);
        alarm->rang = true;
        pa_threaded_mainloop_signal(alarm->loop, 0);
    }

    // Waits, the lock released meanwhile, until `done` holds or `deadline`
    // passed; true when it holds.
    template <typename Done>
    bool waitUntil(Deadline deadline, Done done) {
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || context == nullptr) return false;
        Alarm alarm{loop, false};
        pa_time_event* timer = pa_context_rttime_new(context, pa_rtclock_now() + static_cast<pa_usec_t>(left.count()),
                                                     onAlarm, &alarm);
        if (timer == nullptr) return done();
        while (!done() && !alarm.rang) pa_threaded_mainloop_wait(loop);
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return done();
    }

    bool contextGood() const { return context && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); }

    // Waits for one request; a dead connection or the deadline cancels it,
    // so its callback never runs against a query that is gone.
    template <typename Item>
    void finish(pa_operation* operation, Query<Item>& query, Deadline deadline) {
        if (operation == nullptr) throw errorOf(pa_context_errno(context));
        const bool answered = waitUntil(deadline, [&] { return query.done || !contextGood(); }) && query.done;
        if (!answered) pa_operation_cancel(operation);
        pa_operation_unref(operation);
        if (!answered) {
            throw ServerError(ServerStatus::unreachable, contextGood() ? "geen antwoord op tijd" : "verbinding verbroken");
        }
        if (query.error != 0) throw errorOf(query.error);
    }

    template <typename Item>
    Query<Item> query() {
        return Query<Item>{loop, {}, {}, {}, false, 0};
    }

    // --- the connection (loop lock held)

    static void onContextState(pa_context*, void* self) { pa_threaded_mainloop_signal(static_cast<Impl*>(self)->loop, 0); }

    void dropContext() {
        if (context == nullptr) return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);  // running recordings keep their own reference
        context = nullptr;
    }

    void connect(Deadline deadline) {
        if (!loopRunning) throw ServerError(ServerStatus::unreachable, "libpulse start niet");
        if (context && pa_context_get_state(context) == PA_CONTEXT_READY) return;
        // A failed connection (the server went away) is replaced, so a
        // restarted server is found again.
        dropContext();
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Crestline");
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, std::string(kAppIdentifier).c_str());
        context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), "Crestline", properties);
        pa_proplist_free(properties);
        if (context == nullptr) throw ServerError(ServerStatus::unreachable, "geen context");
        pa_context_set_state_callback(context, onContextState, this);
        int error = PA_ERR_CONNECTIONREFUSED;
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0) {
            waitUntil(deadline, [&] {
                const auto state = pa_context_get_state(context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            });
            if (pa_context_get_state(context) == PA_CONTEXT_READY) {
                reportedUnreachable = false;
                return;
            }
            error = pa_context_errno(context);
            if (error == PA_OK) error = PA_ERR_TIMEOUT;
        }
        if (!reportedUnreachable) {
            reportedUnreachable = true;
            log(std::string("Crestline: geluidsserver niet bereikbaar (") + pa_strerror(error) + ")");
        }
        dropContext();
        throw ServerError(ServerStatus::unreachable, pa_strerror(error));
    }

    static Sink sinkAnswer(Query<Sink>& sinks) {
        if (sinks.items.empty()) throw ServerError(ServerStatus::noSuchEntity, "geen sink");
        return sinks.items.front();
    }
};

// --- recordings

namespace {

struct PulseRecording final : Recording {
    using Impl = PulseSoundServer::Impl;

    std::shared_ptr<Impl> server;  // keeps the loop alive
    Sink sink;
    std::optional<std::uint32_t> sinkInput;
    RecordingCallbacks callbacks;

    // Loop lock.
    pa_stream* stream = nullptr;
    pa_context* context = nullptr;  // the connection the stream belongs to
    pa_time_event* watch = nullptr;
    pa_operation* rateQuery = nullptr;
    pa_operation* playingQuery = nullptr;
    pa_operation* ownQuery = nullptr;
    pa_usec_t playingAskedAt = 0;
    bool playing = false;     // collects the answer to playingQuery
    bool ownCorked = false;   // the answer to ownQuery
    bool connected = false;
    bool ended = false;
    pa_usec_t lastFrames = 0;
    std::int64_t silentFrames = 0;  // since the last sample other than 0
    bool quietFragments = false;

    // Writer: the loop thread; readers: any. Relaxed: one value, nothing published with it.
    std::atomic<double> currentSinkRate{0.0};

    ~PulseRecording() override {
        Impl::Lock lock(server->loop);
        close();
    }

    int channels() const override { return sink.channels; }
    double rate() const override { return sink.rate; }
    std::optional<double> sinkRate() const override {
        const double value = currentSinkRate.load(std::memory_order_relaxed);
        if (value > 0.0) return value;
        return std::nullopt;
    }

    // Loop lock held.
    static void cancel(pa_operation*& operation) {
        if (operation == nullptr) return;
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
        operation = nullptr;
    }

    void close() {
        cancel(playingQuery);
        cancel(ownQuery);
        cancel(rateQuery);
        if (watch) {
            pa_threaded_mainloop_get_api(server->loop)->time_free(watch);
            watch = nullptr;
        }
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context) {
            pa_context_unref(context);
            context = nullptr;
        }
        ended = true;
    }

    // Loop thread.
    void end(RecordingEnd how, const std::string& reason) {
        if (ended) return;
        ended = true;
        if (callbacks.onEnd) callbacks.onEnd(how, reason);
    }

    static void onState(pa_stream* stream, void* self) {
        auto* recording = static_cast<PulseRecording*>(self);
        const auto state = pa_stream_get_state(stream);
        if (recording->connected && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
            // The connection fails before its streams do.
            const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(recording->context));
            recording->end(serverGone ? RecordingEnd::serverGone : RecordingEnd::streamGone,
                           pa_strerror(pa_context_errno(recording->context)));
        }
        pa_threaded_mainloop_signal(recording->server->loop, 0);
    }

    static void onRead(pa_stream* stream, std::size_t, void* self) {
        auto* recording = static_cast<PulseRecording*>(self);
        const auto frameBytes = static_cast<std::size_t>(recording->sink.channels) * sizeof(float);
        for (;;) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
            // A hole (no data) delivers nothing.
            if (data && !recording->ended && bytes >= frameBytes) {
                const auto* samples = static_cast<const float*>(data);
                const int frames = static_cast<int>(bytes / frameBytes);
                recording->lastFrames = pa_rtclock_now();
                recording->callbacks.onFrames(samples, frames, recording->sink.channels);
                recording->noteSilence(samples, frames);
            }
            pa_stream_drop(stream);
        }
    }

    // Fragments of 100 ms after a few seconds of digital silence (an idle
    // Live still plays zeros), of 10 ms again from the first sound. Where
    // our request sets the sink's pace, idle costs a tenth of the wake-ups
    // (a player asking for less latency keeps it fast); the bar wakes at
    // most 0.1 s late, and no sample is lost either way.
    void noteSilence(const float* samples, int frames) {
        const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(sink.channels);
        const bool silent = std::all_of(samples, samples + count, [](float v) { return v == 0.0f; });
        silentFrames = silent ? silentFrames + frames : 0;
        const bool quiet = static_cast<double>(silentFrames) >= kQuietAfterSeconds * sink.rate;
        if (quiet == quietFragments || stream == nullptr) return;
        quietFragments = quiet;
        const pa_buffer_attr* current = pa_stream_get_buffer_attr(stream);
        if (current == nullptr) return;
        pa_buffer_attr attributes = *current;
        attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(
            quiet ? kQuietFragmentMicroseconds : kFragmentMicroseconds, pa_stream_get_sample_spec(stream)));
        // Fire and forget: a server that ignores it only keeps waking us as often.
        if (pa_operation* operation = pa_stream_set_buffer_attr(stream, &attributes, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
    }

    static void onSinkRate(pa_context*, const pa_sink_info* info, int eol, void* self) {
        auto* recording = static_cast<PulseRecording*>(self);
        if (eol == 0 && info) {
            recording->currentSinkRate.store(info->sample_spec.rate, std::memory_order_relaxed);
            return;
        }
        pa_operation_unref(recording->rateQuery);
        recording->rateQuery = nullptr;
    }

    static void onPlaying(pa_context*, const pa_sink_input_info* info, int eol, void* self) {
        auto* recording = static_cast<PulseRecording*>(self);
        if (eol == 0 && info) {
            const bool recorded = recording->sinkInput ? info->index == *recording->sinkInput
                                                       : info->sink == recording->sink.index;
            if (recorded && !info->corked) recording->playing = true;
            return;
        }
        pa_operation_unref(recording->playingQuery);
        recording->playingQuery = nullptr;
        recording->judgeSilence(eol > 0);
    }

    static void onOwn(pa_context*, const pa_source_output_info* info, int eol, void* self) {
        auto* recording = static_cast<PulseRecording*>(self);
        if (eol == 0 && info) {
            recording->ownCorked = info->corked != 0;
            return;
        }
        pa_operation_unref(recording->ownQuery);
        recording->ownQuery = nullptr;
        recording->judgeSilence(eol > 0);
    }

    // Once both answers are in. We never cork our recording: when the
    // server shows it corked, its graph stopped under it (PipeWire does so
    // when the session manager dies, and reports the player corked too).
    void judgeSilence(bool answered) {
        if (!answered || playingQuery != nullptr || ownQuery != nullptr) return;
        if ((playing || ownCorked) && pa_rtclock_now() - lastFrames >= kStallMicroseconds) {
            end(RecordingEnd::stalled, "er komt niets binnen terwijl de stream speelt");
        }
    }

    // Once a second on the loop thread.
    static void onWatch(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* recording = static_cast<PulseRecording*>(self);
        const pa_usec_t now = pa_rtclock_now();
        if (!recording->ended && PA_CONTEXT_IS_GOOD(pa_context_get_state(recording->context))) {
            if (recording->rateQuery == nullptr) {
                recording->rateQuery =
                    pa_context_get_sink_info_by_index(recording->context, recording->sink.index, onSinkRate, recording);
            }
            if (recording->playingQuery != nullptr || recording->ownQuery != nullptr) {
                if (now - recording->playingAskedAt >= kNoAnswerMicroseconds) {
                    recording->end(RecordingEnd::stalled, "de geluidsserver antwoordt niet");
                }
            } else if (now - recording->lastFrames >= kStallMicroseconds) {
                recording->playing = false;
                recording->ownCorked = false;
                recording->playingAskedAt = now;
                recording->playingQuery =
                    pa_context_get_sink_input_info_list(recording->context, onPlaying, recording);
                recording->ownQuery = pa_context_get_source_output_info(
                    recording->context, pa_stream_get_index(recording->stream), onOwn, recording);
            }
        }
        if (!recording->ended) pa_context_rttime_restart(recording->context, recording->watch, now + kWatchMicroseconds);
    }
};

}  // namespace

PulseSoundServer::PulseSoundServer() : impl_(std::make_shared<Impl>()) {}

PulseSoundServer::~PulseSoundServer() = default;

std::vector<SinkInput> PulseSoundServer::sinkInputs(Deadline deadline) {
    Impl::Lock lock(impl_->loop);
    impl_->connect(deadline);
    auto inputs = impl_->query<SinkInput>();
    impl_->finish(pa_context_get_sink_input_info_list(impl_->context, Query<SinkInput>::onSinkInput, &inputs), inputs,
                  deadline);
    if (inputs.clientPids.empty()) return std::move(inputs.items);
    // Native PipeWire players name their pid on the client only.
    auto clients = impl_->query<SinkInput>();
    impl_->finish(pa_context_get_client_info_list(impl_->context, Query<SinkInput>::onClient, &clients), clients,
                  deadline);
    for (std::size_t i = 0; i < inputs.items.size(); ++i) {
        const auto client = clients.clientPids.find(inputs.clients[i]);
        if (!inputs.items[i].pid && client != clients.clientPids.end()) inputs.items[i].pid = client->second;
    }
    return std::move(inputs.items);
}

Sink PulseSoundServer::sink(std::uint32_t index, Deadline deadline) {
    Impl::Lock lock(impl_->loop);
    impl_->connect(deadline);
    auto sinks = impl_->query<Sink>();
    impl_->finish(pa_context_get_sink_info_by_index(impl_->context, index, Query<Sink>::onSink, &sinks), sinks, deadline);
    return impl_->sinkAnswer(sinks);
}

Sink PulseSoundServer::sink(const std::string& name, Deadline deadline) {
    if (name.empty()) throw ServerError(ServerStatus::noSuchEntity, "geen sinknaam");
    Impl::Lock lock(impl_->loop);
    impl_->connect(deadline);
    auto sinks = impl_->query<Sink>();
    impl_->finish(pa_context_get_sink_info_by_name(impl_->context, name.c_str(), Query<Sink>::onSink, &sinks), sinks,
                  deadline);
    return impl_->sinkAnswer(sinks);
}

std::optional<Sink> PulseSoundServer::defaultSink(Deadline deadline) {
    try {
        return sink("@DEFAULT_SINK@", deadline);
    } catch (const ServerError& error) {
        if (error.status() == ServerStatus::noSuchEntity) return std::nullopt;
        throw;
    }
}

std::unique_ptr<Recording> PulseSoundServer::record(const Sink& sink, std::optional<std::uint32_t> sinkInput,
                                                    RecordingCallbacks callbacks, Deadline deadline) {
    pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(sink.rate), static_cast<std::uint8_t>(sink.channels)};
    pa_channel_map map;
    if (sink.channels < 1 || sink.channels > static_cast<int>(PA_CHANNELS_MAX) || !(sink.rate >= 1.0 && sink.rate <= PA_RATE_MAX) ||
        !pa_sample_spec_valid(&format) || pa_channel_map_parse(&map, sink.channelMap.c_str()) == nullptr ||
        !pa_channel_map_compatible(&map, &format)) {
        throw ServerError(ServerStatus::refused, "sink heeft een onbruikbaar formaat");
    }
    auto recording = std::make_unique<PulseRecording>();
    recording->server = impl_;
    recording->sink = sink;
    recording->sinkInput = sinkInput;
    recording->callbacks = std::move(callbacks);
    recording->currentSinkRate.store(sink.rate, std::memory_order_relaxed);

    Impl::Lock lock(impl_->loop);
    impl_->connect(deadline);
    pa_context* context = impl_->context;
    recording->context = pa_context_ref(context);
    pa_stream* stream = pa_stream_new(context, "Crestline", &format, &map);
    if (stream == nullptr) throw errorOf(pa_context_errno(context));
    recording->stream = stream;
    if (sinkInput && pa_stream_set_monitor_stream(stream, *sinkInput) != 0) throw errorOf(pa_context_errno(context));
    pa_stream_set_state_callback(stream, PulseRecording::onState, recording.get());
    pa_stream_set_read_callback(stream, PulseRecording::onRead, recording.get());

    // Without a fragment size of our own the server grants seconds; the
    // sink's own map without remixing keeps the channels apart; a recording
    // that cannot stay with its stream fails rather than moving silently.
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentMicroseconds, &format));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_NO_REMIX_CHANNELS | PA_STREAM_DONT_MOVE);
    const std::string monitor = sink.name + ".monitor";
    if (pa_stream_connect_record(stream, monitor.c_str(), &attributes, flags) != 0) {
        throw errorOf(pa_context_errno(context));
    }
    const bool ready = impl_->waitUntil(deadline, [&] {
        const auto state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (pa_stream_get_state(stream) != PA_STREAM_READY) {
        if (!ready) throw ServerError(ServerStatus::unreachable, "geen antwoord op tijd");
        throw errorOf(pa_context_errno(context));
    }
    recording->connected = true;
    recording->lastFrames = pa_rtclock_now();
    recording->watch = pa_context_rttime_new(context, pa_rtclock_now() + kWatchMicroseconds, PulseRecording::onWatch,
                                             recording.get());
    return recording;
}

}  // namespace crestline
