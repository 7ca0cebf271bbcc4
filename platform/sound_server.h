// The sound server as the capture sees it, in PulseAudio's own terms: sinks
// (an output with a channel count, map and rate), the sink inputs that
// processes play into them, the default sink, and recordings of a sink's
// monitor, optionally restricted to one sink input, that deliver interleaved
// float frames.
//
// Two implementations: `PulseSoundServer` (libpulse, which PipeWire's
// PulseAudio server serves too) and `SimulatedSoundServer` for tests. The one
// in use is process-wide and replaceable (`setSoundServer`,
// `ScopedSoundServer`).
//
// Threads: requests may come from any thread except a recording's own
// callbacks. Each request waits for the server's answer until its deadline
// at most and then throws `ServerError` (`unreachable`), so a caller decides
// how long it can afford to block. A recording's callbacks run on the
// server's thread, one at a time, never after the recording was destroyed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace crestline {

using Deadline = std::chrono::steady_clock::time_point;

inline Deadline deadlineIn(double seconds) {
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

// Why a request failed. The numbers are the ones the capture's log lines and
// error texts have always carried, so a status reads the same in old logs.
enum class ServerStatus : std::int32_t {
    ok = 0,
    unreachable = 0x73746F70,   // no server, or no answer before the deadline
    noSuchEntity = 0x216F626A,  // the sink or sink input is gone
    refused = 0x77686174,       // the server said no for another reason
};

class ServerError : public std::runtime_error {
public:
    ServerError(ServerStatus status, const std::string& reason) : std::runtime_error(reason), status_(status) {}
    ServerStatus status() const { return status_; }

private:
    ServerStatus status_;
};

struct Sink {
    std::uint32_t index = 0;
    std::string name;         // stable: survives a server restart
    std::string description;  // what the user reads
    int channels = 0;
    std::string channelMap;   // e.g. "front-left,front-right"
    double rate = 0.0;

    bool operator==(const Sink&) const = default;
};

struct SinkInput {
    std::uint32_t index = 0;
    std::uint32_t sink = 0;
    // The playing process: the stream's own "application.process.id", else
    // that of its client (native PipeWire players set only the client's).
    std::optional<std::int32_t> pid;
    bool corked = false;

    bool operator==(const SinkInput&) const = default;
};

// How a recording ended on its own.
enum class RecordingEnd {
    streamGone,  // the recorded sink input or the sink went away (the player quit)
    serverGone,  // the connection to the server failed
    stalled,     // nothing arrives although the recorded sound still plays
};

struct RecordingCallbacks {
    // `frames` frames of `channels` interleaved samples, valid during the call.
    std::function<void(const float* samples, int frames, int channels)> onFrames;
    // Once, after the last `onFrames`; the recording delivers nothing more.
    std::function<void(RecordingEnd end, const std::string& reason)> onEnd;
};

// A running recording. Destroying it stops it and returns once no callback
// runs and none will; never destroy it from its own callbacks.
class Recording {
public:
    virtual ~Recording() = default;
    virtual int channels() const = 0;
    virtual double rate() const = 0;  // of the delivered frames
    // The recorded sink's rate as last heard from the server; never waits.
    virtual std::optional<double> sinkRate() const = 0;
};

class SoundServer {
public:
    virtual ~SoundServer() = default;

    virtual std::vector<SinkInput> sinkInputs(Deadline deadline) = 0;
    virtual Sink sink(std::uint32_t index, Deadline deadline) = 0;
    virtual Sink sink(const std::string& name, Deadline deadline) = 0;
    // Nothing when the server has no default sink.
    virtual std::optional<Sink> defaultSink(Deadline deadline) = 0;
    // Records `sink`'s monitor in its own channel count and map, unmixed, in
    // fragments of about 10 ms (longer ones are allowed after seconds of
    // digital silence); with `sinkInput`, only that stream.
    virtual std::unique_ptr<Recording> record(const Sink& sink, std::optional<std::uint32_t> sinkInput,
                                              RecordingCallbacks callbacks, Deadline deadline) = 0;
};

// The server in use; the PulseAudio one until replaced.
std::shared_ptr<SoundServer> soundServer();
// Installs `server` for every later use and returns the one it replaced; a
// null server restores the default.
std::shared_ptr<SoundServer> setSoundServer(std::shared_ptr<SoundServer> server);

// Installs a server for its lifetime (tests).
class ScopedSoundServer {
public:
    explicit ScopedSoundServer(std::shared_ptr<SoundServer> server) : previous_(setSoundServer(std::move(server))) {}
    ~ScopedSoundServer() { setSoundServer(std::move(previous_)); }
    ScopedSoundServer(const ScopedSoundServer&) = delete;
    ScopedSoundServer& operator=(const ScopedSoundServer&) = delete;

private:
    std::shared_ptr<SoundServer> previous_;
};

}  // namespace crestline
