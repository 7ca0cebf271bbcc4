// A scripted sound server for tests. The test builds a small world (sinks,
// the sink inputs that processes play into them, a default sink), makes
// requests fail or time out, reads a journal of every request, and drives
// the recordings itself: `deliver` hands frames to every running recording
// and `end` ends them, both on the simulated server's own thread, as the
// real server's thread would.
//
// Thread-safe. `deliver` and `end` wait for the server's thread, so call
// them from the test thread, never from inside a callback.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_queue.h"
#include "platform/sound_server.h"

namespace crestline {

class SimulatedSoundServer final : public SoundServer, public std::enable_shared_from_this<SimulatedSoundServer> {
public:
    enum class Request { sinkInputs, sink, defaultSink, record };

    SimulatedSoundServer();
    ~SimulatedSoundServer() override;

    // --- the world
    // The first sink added is the default one.
    std::uint32_t addSink(const std::string& name, int channels, double rate = 48000.0);
    // A stream of `pid` (nothing: none named) whose client may name one.
    std::uint32_t addSinkInput(std::uint32_t sink, std::optional<std::int32_t> pid,
                               std::optional<std::int32_t> clientPid = std::nullopt);
    void removeSinkInput(std::uint32_t index);
    void setDefaultSink(const std::string& name);  // "" for none
    // The rate the server reports for a sink from now on.
    void setSinkRate(const std::string& name, double rate);

    // --- failures
    // The next `times` requests of that kind throw `status` (-1: all).
    void fail(Request request, ServerStatus status, int times = 1);
    // Every request throws as if its deadline passed with no answer.
    void setUnresponsive(bool unresponsive);
    void clearFailures();
    // The deadline of the latest request.
    Deadline lastDeadline() const;

    // --- inspection
    // One line per request: "sinkInputs", "sink 3", "sink test", "defaultSink",
    // "record test", "record test input 7"; and "close test" when a recording goes.
    std::vector<std::string> journal() const;
    void clearJournal();
    int recordingCount() const;

    // --- driving
    // Hands `samples` (frames of `channels` interleaved samples) to every
    // running recording and waits; returns the number of recordings.
    int deliver(const std::vector<float>& samples, int channels);
    // The same without waiting.
    int deliverAsync(std::vector<float> samples, int channels);
    // Ends every running recording and waits; returns their number.
    int end(RecordingEnd how, const std::string& reason);

    // --- SoundServer
    std::vector<SinkInput> sinkInputs(Deadline deadline) override;
    Sink sink(std::uint32_t index, Deadline deadline) override;
    Sink sink(const std::string& name, Deadline deadline) override;
    std::optional<Sink> defaultSink(Deadline deadline) override;
    std::unique_ptr<Recording> record(const Sink& sink, std::optional<std::uint32_t> sinkInput,
                                      RecordingCallbacks callbacks, Deadline deadline) override;

    struct Running;  // what a recording and the server's thread share

private:
    struct Stream {
        std::uint32_t sink = 0;
        std::optional<std::int32_t> pid;
        std::optional<std::int32_t> clientPid;
    };

    // Under `mutex_`: journals the request and throws a scripted failure.
    void request(Request kind, const std::string& line, Deadline deadline);
    const Sink& sinkLocked(const std::string& name) const;
    void close(const std::shared_ptr<Running>& running);
    std::vector<std::shared_ptr<Running>> runningLocked() const;

    mutable std::mutex mutex_;
    std::map<std::uint32_t, Sink> sinks_;
    std::map<std::uint32_t, Stream> inputs_;
    std::string defaultSink_;
    std::map<Request, std::pair<ServerStatus, int>> failures_;
    bool unresponsive_ = false;
    Deadline lastDeadline_{};
    std::vector<std::string> journal_;
    std::vector<std::shared_ptr<Running>> recordings_;
    std::uint32_t nextSink_ = 1;
    std::uint32_t nextInput_ = 1;
    SerialQueue thread_;  // the server's thread; last, so it stops first
};

}  // namespace crestline
