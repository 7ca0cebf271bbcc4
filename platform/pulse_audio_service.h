// The audio service over PulseAudio's client library (also served by
// PipeWire's PulseAudio server), mapped onto the object model of
// `AudioService`:
//
// - a process object is a sink input whose "application.process.id" is the
//   pid (the lowest-numbered one when the process plays several streams);
//   its device is the sink it plays to;
// - a device is a sink: name = its description, UID = its name, one output
//   stream with the sink's channel count and rate, no input streams; the
//   default output device is the server's default sink;
// - a per-process tap records that sink input through the sink's monitor
//   (`pa_stream_set_monitor_stream`); a tap of every process records the
//   whole monitor; a stereo mixdown tap records the raw channels and mixes
//   them down here (never PulseAudio's remixing): each side is the mean of
//   its channels' pairs, a lone last channel feeding both sides;
// - an aggregate holds one tap; its IO proc is a record stream of float32 in
//   the sink's channel count and map, without remixing, with ~10 ms
//   fragments. One interleaved buffer per callback; holes deliver nothing.
//   A main sub-device changes nothing: the capture is the same.
//
// A record stream that fails (the process quit, the sink went away, the
// server died) stops delivering and reports the failure on its queue.
//
// Threads: libpulse's threaded main loop runs the protocol. The operations
// take its lock and wait for the server's answers (at most a few seconds);
// record data is copied into a ring on the loop's thread and delivered on the
// proc's queue.
#pragma once

#include <memory>

#include "platform/audio_service.h"

namespace crestline {

class PulseAudioService final : public AudioService {
public:
    PulseAudioService();
    ~PulseAudioService() override;
    PulseAudioService(const PulseAudioService&) = delete;
    PulseAudioService& operator=(const PulseAudioService&) = delete;

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::span<const std::byte> qualifier, std::uint32_t& size) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::span<const std::byte> qualifier, std::uint32_t& size, void* data) override;
    OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::optional<std::string>& value) override;
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& tap) override;
    OSStatus destroyProcessTap(AudioObjectID tap) override;
    OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& device) override;
    OSStatus destroyAggregateDevice(AudioObjectID device) override;
    OSStatus createIOProcID(AudioObjectID device, SerialQueue& queue, AudioIOBlock block, AudioIOFailure onFailure,
                            AudioDeviceIOProcID& proc) override;
    OSStatus startDevice(AudioObjectID device, AudioDeviceIOProcID proc) override;
    OSStatus stopDevice(AudioObjectID device, AudioDeviceIOProcID proc) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID proc) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Mixes `frames` interleaved frames of `channels` channels down to stereo as
// described above. `stereo` holds 2 × frames floats.
void mixDownToStereo(const float* interleaved, int channels, int frames, float* stereo);

}  // namespace crestline
