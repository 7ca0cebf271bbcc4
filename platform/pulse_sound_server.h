// The sound server over libpulse: PulseAudio itself, or PipeWire's PulseAudio
// server (pipewire-pulse), which speaks the same protocol.
//
// One connection per process, made on the first request and made again
// after the server went away, so a restarted server is found without
// restarting the program. libpulse's threaded main loop runs the protocol
// on its own thread: a request takes the loop's lock, sends, and waits
// (the lock released) until the answer or its deadline.
//
// A recording is a record stream on "<sink>.monitor" (with
// `pa_stream_set_monitor_stream` for one sink input), float32 in the sink's
// channel count and map, `PA_STREAM_NO_REMIX_CHANNELS`, ~10 ms fragments.
// Its frames are handed over straight from the loop thread, without a copy
// or an allocation. A watchdog on the same thread checks once a second:
// when nothing arrived for 3 s while the recorded sound still plays, or
// while the server shows our recording corked (we never cork it: PipeWire
// does when its session manager dies, and then shows the player corked
// too), or the server does not answer within 2 s, the recording ends as
// `stalled`.
#pragma once

#include <memory>

#include "platform/sound_server.h"

namespace crestline {

class PulseSoundServer final : public SoundServer {
public:
    PulseSoundServer();
    ~PulseSoundServer() override;
    PulseSoundServer(const PulseSoundServer&) = delete;
    PulseSoundServer& operator=(const PulseSoundServer&) = delete;

    std::vector<SinkInput> sinkInputs(Deadline deadline) override;
    Sink sink(std::uint32_t index, Deadline deadline) override;
    Sink sink(const std::string& name, Deadline deadline) override;
    std::optional<Sink> defaultSink(Deadline deadline) override;
    std::unique_ptr<Recording> record(const Sink& sink, std::optional<std::uint32_t> sinkInput,
                                      RecordingCallbacks callbacks, Deadline deadline) override;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace crestline
