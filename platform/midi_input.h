// A virtual MIDI input port that another program (Live) sends to: the
// application's MIDI destination "Crestline". The byte handling lives in its
// user (LiveSync); this layer only opens the port and hands over the bytes,
// so tests replace it with a fake that delivers synthetic messages.
//
// Threads: `handler` runs on the MIDI service's own input thread, one call
// per message. `close()` returns once no handler runs and none will.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace crestline {

struct MidiOpenResult {
    enum class Failure {
        none,
        client,  // the connection to the MIDI service could not be made
        port,    // connected, but the virtual port could not be created
    };
    Failure failure = Failure::none;
    int status = 0;  // the service's error number when `failure` is not none

    bool ok() const { return failure == Failure::none; }
};

class MidiInput {
public:
    using Handler = std::function<void(std::span<const std::uint8_t> bytes)>;

    virtual ~MidiInput() = default;

    // Opens a virtual input port named `name` that passes timing clock,
    // Start, Continue, Stop and Song Position Pointer through (system
    // exclusive and active sensing are filtered). Opening twice without a
    // close is a no-op that reports success.
    virtual MidiOpenResult open(const std::string& name, Handler handler) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

// RtMidi over the ALSA sequencer, never JACK: a JACK virtual port opened
// without a running server crashes inside libjack. Where the sequencer is
// missing (no /dev/snd/seq) `open` reports a client failure.
std::unique_ptr<MidiInput> makeSystemMidiInput();

}  // namespace crestline
