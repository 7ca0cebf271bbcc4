// Helper datagrams as the receiver gets them (seeded from
// corpus/helper_datagram): the decoding rule, then the transport state that
// the decoded messages drive. Decoding answers an object or nothing; after
// any sequence of messages the transport holds finite beats within range,
// ordered locators and a sane bar length, and the beat clock answers finite
// numbers or nothing.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "live/live_helper_receiver.h"
#include "live/live_sync.h"
#include "platform/clock.h"
#include "platform/midi_input.h"

using namespace crestline;

namespace {

class NoMidi final : public MidiInput {
public:
    MidiOpenResult open(const std::string&, Handler) override { return {}; }
    void close() override {}
    bool isOpen() const override { return false; }
};

struct World {
    FakeClock clock;
    LiveSync sync{clock, std::make_unique<NoMidi>()};
};

World& world() {
    static World w;
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const auto message = LiveHelperReceiver::decode(std::span(data, size));
    if (!message) return 0;
    if (!message->is_object()) std::abort();
    World& w = world();
    // Messages come a few milliseconds apart, with now and then a pause.
    w.clock.advance(size > 0 && data[0] % 16 == 0 ? 6.0 : 0.01);
    const double now = w.clock.now();
    {
        std::scoped_lock held(w.sync.lock());
        w.sync.applyHelper(*message, now);
        const auto& state = w.sync.stateLocked();
        if (!(state.helperBeatsPerBar > 0 && state.helperBeatsPerBar <= 99)) std::abort();
        for (std::size_t i = 0; i < state.helperLocators.size(); ++i) {
            const double beat = state.helperLocators[i].beat;
            if (!std::isfinite(beat) || std::fabs(beat) > LiveSync::kMaxBeat) std::abort();
            if (i > 0 && beat < state.helperLocators[i - 1].beat) std::abort();
        }
        if (state.filled < 0 || state.filled > LiveSync::kRingSize) std::abort();
    }
    if (const auto clock = w.sync.beatClock(now)) {
        if (!std::isfinite(clock->beat) || !std::isfinite(clock->beatsPerSecond)) std::abort();
    }
    return 0;
}
