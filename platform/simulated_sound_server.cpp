#include "platform/simulated_sound_server.h"

#include <algorithm>
#include <atomic>

namespace crestline {

struct SimulatedSoundServer::Running {
    Sink sink;
    RecordingCallbacks callbacks;
    std::atomic<bool> live{true};     // delivers; cleared when it ends on its own
    std::atomic<bool> closed{false};  // destroyed by its owner: no callback any more
    std::atomic<double> sinkRate{0.0};
};

namespace {

std::string channelMapOf(int channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "front-left,front-right";
    std::string map;
    for (int c = 0; c < channels; ++c) map += (c ? ",aux" : "aux") + std::to_string(c);
    return map;
}

class SimulatedRecording final : public Recording {
public:
    SimulatedRecording(std::shared_ptr<SimulatedSoundServer> server,
                       std::shared_ptr<SimulatedSoundServer::Running> running, std::function<void()> close)
        : server_(std::move(server)), running_(std::move(running)), close_(std::move(close)) {}
    ~SimulatedRecording() override { close_(); }

    int channels() const override { return running_->sink.channels; }
    double rate() const override { return running_->sink.rate; }
    std::optional<double> sinkRate() const override {
        const double rate = running_->sinkRate.load();
        if (rate > 0.0) return rate;
        return std::nullopt;
    }

private:
    std::shared_ptr<SimulatedSoundServer> server_;  // outlives its recordings
    std::shared_ptr<SimulatedSoundServer::Running> running_;
    std::function<void()> close_;
};

}  // namespace

SimulatedSoundServer::SimulatedSoundServer() : thread_("simulated sound server") {}

SimulatedSoundServer::~SimulatedSoundServer() = default;

// --- the world

std::uint32_t SimulatedSoundServer::addSink(const std::string& name, int channels, double rate) {
    std::scoped_lock lock(mutex_);
    const std::uint32_t index = nextSink_++;
    sinks_[index] = {index, name, "Simulated " + name, channels, channelMapOf(channels), rate};
    if (defaultSink_.empty()) defaultSink_ = name;
    return index;
}

std::uint32_t SimulatedSoundServer::addSinkInput(std::uint32_t sink, std::optional<std::int32_t> pid,
                                                 std::optional<std::int32_t> clientPid) {
    std::scoped_lock lock(mutex_);
    const std::uint32_t index = nextInput_++;
    inputs_[index] = {sink, pid, clientPid};
    return index;
}

void SimulatedSoundServer::removeSinkInput(std::uint32_t index) {
    std::scoped_lock lock(mutex_);
    inputs_.erase(index);
}

void SimulatedSoundServer::setDefaultSink(const std::string& name) {
    std::scoped_lock lock(mutex_);
    defaultSink_ = name;
}

void SimulatedSoundServer::setSinkRate(const std::string& name, double rate) {
    std::scoped_lock lock(mutex_);
    for (auto& [index, sink] : sinks_) {
        if (sink.name == name) sink.rate = rate;
    }
    for (const auto& running : recordings_) {
        if (running->sink.name == name) running->sinkRate = rate;
    }
}

// --- failures

void SimulatedSoundServer::fail(Request request, ServerStatus status, int times) {
    std::scoped_lock lock(mutex_);
    failures_[request] = {status, times};
}

void SimulatedSoundServer::setUnresponsive(bool unresponsive) {
    std::scoped_lock lock(mutex_);
    unresponsive_ = unresponsive;
}

void SimulatedSoundServer::clearFailures() {
    std::scoped_lock lock(mutex_);
    failures_.clear();
    unresponsive_ = false;
}

Deadline SimulatedSoundServer::lastDeadline() const {
    std::scoped_lock lock(mutex_);
    return lastDeadline_;
}

void SimulatedSoundServer::request(Request kind, const std::string& line, Deadline deadline) {
    journal_.push_back(line);
    lastDeadline_ = deadline;
    if (unresponsive_) throw ServerError(ServerStatus::unreachable, "geen antwoord op tijd");
    const auto failure = failures_.find(kind);
    if (failure == failures_.end()) return;
    const ServerStatus status = failure->second.first;
    if (failure->second.second > 0 && --failure->second.second == 0) failures_.erase(failure);
    throw ServerError(status, "scripted failure");
}

// --- inspection

std::vector<std::string> SimulatedSoundServer::journal() const {
    std::scoped_lock lock(mutex_);
    return journal_;
}

void SimulatedSoundServer::clearJournal() {
    std::scoped_lock lock(mutex_);
    journal_.clear();
}

int SimulatedSoundServer::recordingCount() const {
    std::scoped_lock lock(mutex_);
    return static_cast<int>(recordings_.size());
}

std::vector<std::shared_ptr<SimulatedSoundServer::Running>> SimulatedSoundServer::runningLocked() const {
    std::vector<std::shared_ptr<Running>> live;
    for (const auto& running : recordings_) {
        if (running->live) live.push_back(running);
    }
    return live;
}

// --- driving

int SimulatedSoundServer::deliverAsync(std::vector<float> samples, int channels) {
    const auto shared = std::make_shared<const std::vector<float>>(std::move(samples));
    const int frames = channels > 0 ? static_cast<int>(shared->size()) / channels : 0;
    std::scoped_lock lock(mutex_);
    const auto live = runningLocked();
    for (const auto& running : live) {
        thread_.async([running, shared, frames, channels] {
            if (!running->closed && running->live) running->callbacks.onFrames(shared->data(), frames, channels);
        });
    }
    return static_cast<int>(live.size());
}

int SimulatedSoundServer::deliver(const std::vector<float>& samples, int channels) {
    const int count = deliverAsync(samples, channels);
    thread_.drain();
    return count;
}

int SimulatedSoundServer::end(RecordingEnd how, const std::string& reason) {
    int count = 0;
    {
        std::scoped_lock lock(mutex_);
        for (const auto& running : runningLocked()) {
            running->live = false;
            ++count;
            thread_.async([running, how, reason] {
                if (!running->closed && running->callbacks.onEnd) running->callbacks.onEnd(how, reason);
            });
        }
    }
    thread_.drain();
    return count;
}

// --- SoundServer

std::vector<SinkInput> SimulatedSoundServer::sinkInputs(Deadline deadline) {
    std::scoped_lock lock(mutex_);
    request(Request::sinkInputs, "sinkInputs", deadline);
    std::vector<SinkInput> inputs;
    for (const auto& [index, stream] : inputs_) {
        inputs.push_back({index, stream.sink, stream.pid ? stream.pid : stream.clientPid, false});
    }
    return inputs;
}

Sink SimulatedSoundServer::sink(std::uint32_t index, Deadline deadline) {
    std::scoped_lock lock(mutex_);
    request(Request::sink, "sink " + std::to_string(index), deadline);
    const auto found = sinks_.find(index);
    if (found == sinks_.end()) throw ServerError(ServerStatus::noSuchEntity, "No such entity");
    return found->second;
}

const Sink& SimulatedSoundServer::sinkLocked(const std::string& name) const {
    for (const auto& [index, sink] : sinks_) {
        if (sink.name == name) return sink;
    }
    throw ServerError(ServerStatus::noSuchEntity, "No such entity");
}

Sink SimulatedSoundServer::sink(const std::string& name, Deadline deadline) {
    std::scoped_lock lock(mutex_);
    request(Request::sink, "sink " + name, deadline);
    return sinkLocked(name);
}

std::optional<Sink> SimulatedSoundServer::defaultSink(Deadline deadline) {
    std::scoped_lock lock(mutex_);
    request(Request::defaultSink, "defaultSink", deadline);
    if (defaultSink_.empty()) return std::nullopt;
    return sinkLocked(defaultSink_);
}

std::unique_ptr<Recording> SimulatedSoundServer::record(const Sink& sink, std::optional<std::uint32_t> sinkInput,
                                                        RecordingCallbacks callbacks, Deadline deadline) {
    std::scoped_lock lock(mutex_);
    request(Request::record, "record " + sink.name + (sinkInput ? " input " + std::to_string(*sinkInput) : ""),
            deadline);
    const Sink& current = sinkLocked(sink.name);
    if (sinkInput && !inputs_.contains(*sinkInput)) throw ServerError(ServerStatus::noSuchEntity, "No such entity");
    auto running = std::make_shared<Running>();
    running->sink = current;
    running->callbacks = std::move(callbacks);
    running->sinkRate = current.rate;
    recordings_.push_back(running);
    return std::make_unique<SimulatedRecording>(shared_from_this(), running, [this, running] { close(running); });
}

void SimulatedSoundServer::close(const std::shared_ptr<Running>& running) {
    {
        std::scoped_lock lock(mutex_);
        running->closed = true;
        running->live = false;
        journal_.push_back("close " + running->sink.name);
        std::erase(recordings_, running);
    }
    // A callback that started before the close finishes before we return.
    if (!thread_.isCurrent()) thread_.drain();
}

}  // namespace crestline
