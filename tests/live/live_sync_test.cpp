#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

#include "live/live_sync.h"
#include "platform/clock.h"
#include "platform/log.h"

using namespace crestline;
using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Stands in for the MIDI service: the test calls the handler that the sync
// object installs, as the service's input thread would.
struct FakeMidi final : MidiInput {
    MidiOpenResult open(const std::string& name, Handler given) override {
        EXPECT_EQ(name, "Crestline");
        ++opens;
        if (result.ok()) handler = std::move(given);
        return result;
    }
    void close() override { handler = {}; }
    bool isOpen() const override { return static_cast<bool>(handler); }
    Handler handler;
    MidiOpenResult result;
    int opens = 0;
};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes clocks(std::size_t count) { return Bytes(count, 0xF8); }
Bytes pointer(int sixteenths) {
    return {0xF2, static_cast<std::uint8_t>(sixteenths % 128), static_cast<std::uint8_t>(sixteenths / 128)};
}

using Transport = std::tuple<std::int64_t, bool, bool>;  // ticks, anchored, playing

void expectClock(const std::optional<LiveSync::BeatClock>& clock, double beat, double beatsPerSecond) {
    ASSERT_TRUE(clock);
    EXPECT_NEAR(clock->beat, beat, 1e-9);
    EXPECT_NEAR(clock->beatsPerSecond, beatsPerSecond, 1e-9);
}

// A sync object on a fake MIDI port and a fake clock. Time advances in
// binary fractions of a second so the minimum sample intervals compare
// exactly.
struct Rig {
    Rig() { sync.start(); }

    void midi(const Bytes& bytes) { port->handler(bytes); }
    void midiEvery(double seconds, const Bytes& bytes, int times) {
        for (int i = 0; i < times; ++i) {
            clock.advance(seconds);
            midi(bytes);
        }
    }
    void helper(const json& message) {
        std::scoped_lock held(sync.lock());
        sync.applyHelper(message, clock.now());
    }
    void position(double beat, std::optional<bool> playing = std::nullopt) {
        json message = {{"type", "position"}, {"beat", beat}};
        if (playing) message["playing"] = *playing;
        helper(message);
    }
    Transport transport() {
        const auto now = state();
        return {now.ticks, now.anchored, now.playing};
    }
    LiveSync::State state() {
        std::scoped_lock held(sync.lock());
        return sync.stateLocked();
    }
    bool helperFresh() {
        std::scoped_lock held(sync.lock());
        return sync.helperFreshLocked(clock.now());
    }
    std::vector<std::pair<double, double>> samples(double since = -1e300) {
        std::vector<std::pair<double, double>> out;
        sync.forEachSample(since, [&](double time, double beat) { out.emplace_back(time, beat); });
        return out;
    }
    // The helper reports a play head moving at `beatsPerSecond` every
    // 1/16 s for `seconds`; returns the last beat.
    double run(double beat, double beatsPerSecond, double seconds) {
        for (int i = 0; i < static_cast<int>(seconds * 16); ++i) {
            clock.advance(0.0625);
            beat += beatsPerSecond * 0.0625;
            position(beat, true);
        }
        return beat;
    }

    FakeClock clock{1024.0};
    FakeMidi* port = new FakeMidi;  // owned by the sync object
    LiveSync sync{clock, std::unique_ptr<MidiInput>(port)};
};

TEST(LiveSyncMidi, ClockWhileStoppedThenStartClocksStopContinueAndPointerMoveTheTicks) {
    Rig rig;
    rig.midiEvery(0.125, clocks(3), 10);
    EXPECT_EQ(rig.transport(), Transport(0, false, false));
    EXPECT_EQ(rig.state().lastMessage, rig.clock.now());
    EXPECT_EQ(rig.samples().size(), 10u);
    for (const auto& sample : rig.samples()) EXPECT_EQ(sample.second, 0.0);
    EXPECT_FALSE(rig.sync.beatClock(rig.clock.now()));

    rig.clock.advance(0.125);
    rig.midi(Bytes{0xFA} + clocks(48));
    EXPECT_EQ(rig.transport(), Transport(48, false, true));  // Start alone does not say where the song is
    EXPECT_EQ(rig.samples().back().second, 2.0);
    rig.midi(Bytes{0xFC} + clocks(5) + Bytes{0xFB, 0xF8});
    EXPECT_EQ(rig.transport(), Transport(49, false, true));
    rig.midi(pointer(16));
    EXPECT_EQ(rig.transport(), Transport(96, true, true));
    rig.midiEvery(1.0 / 64, clocks(1), 6);  // one sample per 0.1 s
    EXPECT_EQ(rig.state().filled, 11);
    rig.midiEvery(1.0 / 64, clocks(1), 1);
    EXPECT_EQ(rig.state().filled, 12);
    EXPECT_EQ(rig.samples().back().second, 103.0 / 24);
}

TEST(LiveSyncMidi, APointerThatWrappedIsLiftedByWholeLapsNearThePreviousPosition) {
    // At 100,000 ticks its own lap is nearest; without an anchor the pointer
    // is taken as it is.
    const std::pair<Bytes, std::int64_t> cases[] = {
        {Bytes{0xFA} + pointer(0) + clocks(200000), 1800 + 2 * LiveSync::kPointerLapTicks},
        {Bytes{0xFA} + pointer(0) + clocks(100000), 1800},
        {Bytes{0xFA} + clocks(200000), 1800},
    };
    for (const auto& [before, ticks] : cases) {
        Rig rig;
        rig.midi(before);
        rig.midi(pointer(300));
        EXPECT_EQ(rig.state().ticks, ticks);
    }
}

TEST(LiveSyncMidi, CutOrCorruptPointersAreSkippedAndTheRestStillActs) {
    Rig rig;
    rig.midi({0xFA, 0xF8});
    const double acted = rig.state().lastMessage;
    rig.clock.advance(1.0);
    for (const Bytes& bytes : {Bytes{0xF2}, Bytes{0xF2, 0x10}, Bytes{0xFE, 0xFF, 0x90, 0x40, 0x7F, 0xF2, 0x01}, Bytes{}}) {
        rig.midi(bytes);
    }
    EXPECT_EQ(rig.transport(), Transport(1, false, true));
    EXPECT_EQ(rig.state().lastMessage, acted);  // nothing acted

    // A "data" byte with the top bit set is a status byte: the pointer is
    // dropped and that byte (a clock here) acts as itself.
    rig.midi({0xF2, 0x10, 0xF8});
    rig.midi({0xF2, 0x90, 0x01});
    EXPECT_EQ(rig.transport(), Transport(2, false, true));
    rig.midi({0xF8, 0xF2, 0x02, 0x00});
    EXPECT_EQ(rig.state().ticks, 12);
}

TEST(LiveSyncMidi, AnyHelperMessageSilencesMidiForFiveSeconds) {
    Rig rig;
    for (const json& message : {json::object(), json{{"type", "hello"}}, json{{"type", 7}}, json::array()}) {
        rig.helper(message);
        rig.clock.advance(4.9375);
        rig.midi({0xFA, 0xF8, 0xF8});
        EXPECT_EQ(rig.state().ticks, 0) << message;
        EXPECT_TRUE(rig.helperFresh());
        rig.clock.advance(0.0625);  // exactly 5 s
        EXPECT_FALSE(rig.helperFresh());
        rig.midi({0xFA, 0xF8, 0xF8, 0xFC});
        EXPECT_EQ(rig.state().ticks, 2) << message;
        rig.midi({0xFA});
    }
}

TEST(LiveSyncMidi, PortFailuresAreLoggedWithTheirStatusAndTheHelperStillWorks) {
    for (const auto& [result, line] :
         {std::pair{MidiOpenResult{MidiOpenResult::Failure::client, 8}, "Crestline: MIDI-client aanmaken mislukt (8)"},
          std::pair{MidiOpenResult{MidiOpenResult::Failure::port, 3}, "Crestline: MIDI-poort aanmaken mislukt (3)"}}) {
        LogCapture log;
        Rig rig;
        rig.port->result = result;
        rig.sync.stop();
        rig.sync.start();
        EXPECT_EQ(log.lines(), std::vector<std::string>{line});
        rig.position(1);
        EXPECT_EQ(rig.state().ticks, 24);
    }
    Rig open;
    open.sync.start();
    EXPECT_EQ(open.port->opens, 1);  // already open: nothing

    LogCapture log;  // the real port on this machine: opens, or fails soft
    LiveSync real;
    real.start();
    for (const auto& line : log.lines()) EXPECT_TRUE(line.starts_with("Crestline: MIDI-")) << line;
}

TEST(LiveSyncHelper, PositionTruncatesToTicksAndKeepsThePlayStateUnlessGiven) {
    Rig rig;
    rig.position(2.99, true);
    EXPECT_EQ(rig.transport(), Transport(71, true, true));
    rig.clock.advance(0.125);
    rig.position(-0.5);
    EXPECT_EQ(rig.transport(), Transport(-12, true, true));  // toward zero
    rig.helper({{"type", "position"}, {"beat", 8}, {"playing", "no"}});
    EXPECT_EQ(rig.transport(), Transport(192, true, true));
    rig.position(8, false);
    EXPECT_EQ(rig.transport(), Transport(192, true, false));
    EXPECT_EQ(rig.state().filled, 2);  // within 0.05 s of a sample: not sampled

    rig.clock.advance(0.125);
    rig.helper({{"type", "position"}, {"beat", "12"}, {"playing", true}});
    rig.helper({{"type", "position"}, {"playing", true}});
    EXPECT_EQ(rig.transport(), Transport(192, true, false));
    EXPECT_EQ(rig.state().helperLastMessage, rig.clock.now());
}

TEST(LiveSyncHelper, LocatorsAreParsedSortedStablyAndReplaceTheOldOnes) {
    Rig rig;
    rig.helper({{"type", "locators"},
                {"locators", json::parse(R"([[32,"Drop"],[16,"B"],[0,"Intro"],[16,"A"],[4,5],[8],["9","x"],
                                            "loose",[2.5,"Half","extra"],[1e300,"Far"]])")},
                {"numerator", 7},
                {"denominator", 8}});
    EXPECT_EQ(rig.state().helperLocators,
              (std::vector<LiveSet::Locator>{{0, "Intro"}, {2.5, "Half"}, {4, ""}, {16, "B"}, {16, "A"}, {32, "Drop"}}));
    EXPECT_EQ(rig.state().helperBeatsPerBar, 3.5);

    rig.helper({{"type", "locators"}, {"locators", "none"}, {"numerator", 6}, {"denominator", 0}});
    EXPECT_TRUE(rig.state().helperLocators.empty());
    EXPECT_EQ(rig.state().helperBeatsPerBar, 3.5);
    rig.helper({{"type", "locators"}, {"numerator", 6}, {"denominator", 8}});
    EXPECT_EQ(rig.state().helperBeatsPerBar, 3.0);
}

TEST(LiveSyncHelper, HostileNumbersAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    Rig rig;
    rig.position(4, false);
    for (const double beat : {1e300, -1e300, nan, inf, -inf, 1e7 + 1}) {
        rig.clock.advance(0.125);
        rig.position(beat, true);
        EXPECT_EQ(rig.transport(), Transport(96, true, false)) << beat;
        EXPECT_EQ(rig.state().filled, 1) << beat;
    }
    rig.position(-1e7);
    EXPECT_EQ(rig.state().ticks, -240000000);

    rig.helper({{"type", "locators"}, {"locators", {{nan, "a"}, {inf, "b"}, {3, "ok"}}}});
    EXPECT_EQ(rig.state().helperLocators, (std::vector<LiveSet::Locator>{{3, "ok"}}));
    for (const auto& [top, bottom] : std::vector<std::pair<json, json>>{
             {1e-9, 4}, {0, 4}, {100, 4}, {7.5, 8}, {nan, 4}, {inf, 4}, {4, 3}, {4, -4}, {4, 32}, {4, "4"}, {true, 4}}) {
        rig.helper({{"type", "locators"}, {"numerator", top}, {"denominator", bottom}});
        EXPECT_EQ(rig.state().helperBeatsPerBar, 4.0) << top << "/" << bottom;
    }
    rig.helper({{"type", "locators"}, {"numerator", 99}, {"denominator", 16}});
    EXPECT_EQ(rig.state().helperBeatsPerBar, 24.75);
}

TEST(LiveSyncBeatClock, SteadySamplesGiveTheTempoAndTheExtrapolatedBeatCountingOnlyThoseAfterALoopJump) {
    Rig helper;
    helper.position(0, true);
    const double last = helper.run(0, 2.0, 2.0);
    expectClock(helper.sync.beatClock(helper.clock.now() + 0.25), last + 0.5, 2.0);
    EXPECT_TRUE(helper.sync.beatClock(helper.clock.now() + 1.49));
    EXPECT_FALSE(helper.sync.beatClock(helper.clock.now() + 1.5));  // stale
    // After a loop jump only the samples after it count: five are too few, six do.
    helper.clock.advance(0.0625);
    helper.position(4, true);
    double beat = helper.run(4, 2.0, 0.25);
    EXPECT_FALSE(helper.sync.beatClock(helper.clock.now()));
    beat = helper.run(beat, 2.0, 0.0625);
    expectClock(helper.sync.beatClock(helper.clock.now()), beat, 2.0);

    Rig midi;  // 48 ticks a second, six at a time
    midi.midi(pointer(64) + Bytes{0xFB});
    midi.midiEvery(0.125, clocks(6), 40);
    expectClock(midi.sync.beatClock(midi.clock.now()), 26.0, 2.0);
    midi.midi({0xFC});
    EXPECT_FALSE(midi.sync.beatClock(midi.clock.now()));  // stopped
}

TEST(LiveSyncBeatClock, SparseOrImplausibleSamplesGiveNothing) {
    Rig sparse;  // every 0.75 s leaves five samples within 3 s
    for (int i = 0; i < 10; ++i) {
        sparse.clock.advance(0.75);
        sparse.position(i * 1.5, true);
    }
    EXPECT_FALSE(sparse.sync.beatClock(sparse.clock.now()));
    for (const double beatsPerSecond : {10.0, 0.2}) {  // 600 and 12 BPM
        Rig rig;
        rig.run(0, beatsPerSecond, 1.0);
        EXPECT_FALSE(rig.sync.beatClock(rig.clock.now())) << beatsPerSecond;
    }
}

TEST(LiveSyncSamples, ForEachSampleWalksTheRingOldestFirstFromAGivenTime) {
    Rig rig;
    EXPECT_TRUE(rig.samples().empty());
    for (int i = 0; i < LiveSync::kRingSize + 10; ++i) {
        rig.clock.advance(0.0625);
        rig.position(i);
    }
    const auto all = rig.samples();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(LiveSync::kRingSize));
    EXPECT_EQ(all.front().second, 10.0);
    EXPECT_EQ(all.back().second, LiveSync::kRingSize + 9.0);
    for (std::size_t i = 1; i < all.size(); ++i) ASSERT_LT(all[i - 1].first, all[i].first);
    EXPECT_EQ(rig.samples(all[all.size() - 5].first), std::vector(all.end() - 5, all.end()));

    // Clearing the history forgets the samples; the next ones start afresh.
    rig.sync.clearSamples();
    EXPECT_TRUE(rig.samples().empty());
    EXPECT_FALSE(rig.sync.beatClock(rig.clock.now()));
    rig.clock.advance(0.0625);
    rig.position(5);
    ASSERT_EQ(rig.samples().size(), 1u);
    EXPECT_EQ(rig.samples().front().second, 5.0);
}

}  // namespace
