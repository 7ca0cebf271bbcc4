// Follows Live's transport so the bar can draw beat-synchronised scope
// windows, bar numbers and timeline marks. Two sources feed it: MIDI clock
// sent to the virtual input port "Crestline" (24 ticks per beat, Start,
// Continue, Stop, Song Position Pointer) and the helper script's messages
// (exact song position, play state, locators, time signature). While the
// helper has spoken within the last 5 s, MIDI is ignored. Samples of
// (host time, beat) go into a ring; a least-squares line through the recent
// ones gives the beat at any host time and the tempo.
//
// Threads: MIDI bytes arrive on the MIDI service's thread, helper messages
// on the helper receiver's queue, reads come from the main thread. All of
// them go through `lock()`, held only for short, allocation-light sections.
// Times are host monotonic seconds from the injected clock; beats are
// quarter-note beats of Live's song position.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include <nlohmann/json.hpp>

#include "live/live_set.h"
#include "platform/clock.h"
#include "platform/midi_input.h"

namespace crestline {

class LiveSync {
public:
    static constexpr int kTicksPerBeat = 24;
    static constexpr int kRingSize = 6000;
    // A Song Position Pointer counts 14 bits of sixteenth notes: its range
    // in ticks (4096 beats) is one "lap".
    static constexpr std::int64_t kPointerLapTicks = 16384 * 6;
    static constexpr double kHelperFreshSeconds = 5.0;
    // Untrusted positions beyond this many beats are refused (about 58 days
    // at 120 BPM); it also keeps beat × 24 far inside 64-bit ticks.
    static constexpr double kMaxBeat = 1e7;

    struct State {
        std::int64_t ticks = 0;   // position in MIDI clock ticks
        bool anchored = false;    // known absolutely (pointer or helper position)
        bool playing = false;
        double lastMessage = 0.0;  // host time of the last transport input that changed something
        std::vector<double> times = std::vector<double>(kRingSize, 0.0);  // sample host times
        std::vector<double> beats = std::vector<double>(kRingSize, 0.0);  // sample beats
        std::int64_t index = 0;   // next ring slot to write
        std::int64_t filled = 0;  // valid samples, at most kRingSize
        double lastSample = 0.0;  // host time of the last recorded sample
        double helperLastMessage = 0.0;  // host time of the last helper message of any kind
        std::vector<LiveSet::Locator> helperLocators;  // ascending by beat, ties in message order
        double helperBeatsPerBar = 4.0;
    };

    struct BeatClock {
        double beat = 0.0;
        double beatsPerSecond = 0.0;
    };

    explicit LiveSync(const Clock& clock = systemClock(),
                      std::unique_ptr<MidiInput> midi = makeSystemMidiInput());
    ~LiveSync();
    LiveSync(const LiveSync&) = delete;
    LiveSync& operator=(const LiveSync&) = delete;

    // Opens the MIDI port "Crestline". Does nothing while it is open; a
    // failure is logged with the service's status and leaves MIDI off (the
    // helper path still works).
    void start();
    // Closes the MIDI port and waits until no MIDI bytes are being applied.
    // For the ordered shut-down; the destructor does it too.
    void stop();

    // Forgets the recorded (host time, beat) samples, as clearing the
    // loudness history does: the timeline marks start afresh. Takes the lock.
    void clearSamples();

    // The estimated beat at host time `at` and the tempo, or nothing when the
    // transport is not followed reliably (stopped, stale, too few or
    // inconsistent samples, implausible tempo). Takes the lock.
    std::optional<BeatClock> beatClock(double at) const;

    // Calls `body(time, beat)` for every sample with time ≥ `since`, oldest
    // first, with the lock held: the body must be short and must not call
    // back into this object.
    template <class Body>
    void forEachSample(double since, Body&& body) const {
        std::scoped_lock held(lock_);
        const std::int64_t start = state_.filled == kRingSize ? state_.index : 0;
        for (std::int64_t i = 0; i < state_.filled; ++i) {
            const auto slot = static_cast<std::size_t>((start + i) % kRingSize);
            if (state_.times[slot] >= since) body(state_.times[slot], state_.beats[slot]);
        }
    }

    // The lock that owns the state. The operations below expect the caller
    // to hold it.
    std::mutex& lock() const { return lock_; }

    // Applies one decoded helper message (a JSON object) received at host
    // time `at`. Caller holds `lock()`.
    void applyHelper(const nlohmann::json& message, double at);

    // True when the helper spoke less than 5 s before `at`; only then do the
    // helper's locators and beats per bar count. Caller holds `lock()`.
    bool helperFreshLocked(double at) const;

    // Caller holds `lock()`.
    const State& stateLocked() const { return state_; }

private:
    // On the MIDI thread: one message's bytes, stamped with the host time.
    void receive(std::span<const std::uint8_t> bytes);
    void apply(std::span<const std::uint8_t> bytes, double at);
    void record(double at, double minimumInterval);
    void applyPosition(const nlohmann::json& message, double at);
    void applyLocators(const nlohmann::json& message);

    const Clock& clock_;
    const std::unique_ptr<MidiInput> midi_;
    mutable std::mutex lock_;
    State state_;
};

}  // namespace crestline
