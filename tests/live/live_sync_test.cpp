#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <memory>
#include <vector>

#include "live/live_sync.h"
#include "platform/clock.h"
#include "platform/log.h"

using namespace crestline;
using nlohmann::json;

namespace {

// Stands in for the MIDI service: the test drives the handler that the sync
// object installs, exactly as the service's input thread would.
class FakeMidiInput final : public MidiInput {
public:
    struct Shared {
        Handler handler;
        MidiOpenResult result;
        int opens = 0;
        int closes = 0;
    };

    explicit FakeMidiInput(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    MidiOpenResult open(const std::string& name, Handler handler) override {
        EXPECT_EQ(name, "Crestline");
        ++shared_->opens;
        if (shared_->result.ok()) shared_->handler = std::move(handler);
        return shared_->result;
    }
    void close() override {
        if (shared_->handler) ++shared_->closes;
        shared_->handler = {};
    }
    bool isOpen() const override { return static_cast<bool>(shared_->handler); }

private:
    std::shared_ptr<Shared> shared_;
};

std::vector<std::uint8_t> repeated(std::uint8_t byte, std::size_t count) { return std::vector<std::uint8_t>(count, byte); }

std::vector<std::uint8_t> pointer(int sixteenths) {
    return {0xF2, static_cast<std::uint8_t>(sixteenths % 128), static_cast<std::uint8_t>(sixteenths / 128)};
}

// One sync object with a fake MIDI port and a fake clock. Times advance in
// binary fractions of a second (1/8, 1/16) so that the minimum sample
// intervals compare exactly.
struct Rig {
    Rig() : midiPort(std::make_shared<FakeMidiInput::Shared>()), sync(clock, std::make_unique<FakeMidiInput>(midiPort)) {
        sync.start();
    }

    void midi(std::vector<std::uint8_t> bytes) {
        ASSERT_TRUE(midiPort->handler);
        midiPort->handler(bytes);
    }
    void midi(std::initializer_list<std::uint8_t> bytes) { midi(std::vector<std::uint8_t>(bytes)); }

    void helper(const json& message) {
        std::scoped_lock held(sync.lock());
        sync.applyHelper(message, clock.now());
    }

    void position(double beat, std::optional<bool> playing = std::nullopt) {
        json message = {{"type", "position"}, {"beat", beat}};
        if (playing) message["playing"] = *playing;
        helper(message);
    }

    LiveSync::State state() {
        std::scoped_lock held(sync.lock());
        return sync.stateLocked();
    }

    std::vector<std::pair<double, double>> samples(double since = -1e300) {
        std::vector<std::pair<double, double>> out;
        sync.forEachSample(since, [&](double time, double beat) { out.emplace_back(time, beat); });
        return out;
    }

    // The play head runs at `beatsPerSecond` from `beat`, reported by the
    // helper every `interval` seconds for `seconds`. Returns the last beat.
    double run(double beat, double beatsPerSecond, double seconds, double interval = 0.0625) {
        const int steps = static_cast<int>(std::lround(seconds / interval));
        for (int i = 0; i < steps; ++i) {
            clock.advance(interval);
            beat += beatsPerSecond * interval;
            position(beat, true);
        }
        return beat;
    }

    // Anchored at 0, then the clock runs `ticks` ticks.
    void anchorAndRun(int ticks) {
        std::vector<std::uint8_t> bytes{0xFA};
        const auto start = pointer(0);
        bytes.insert(bytes.end(), start.begin(), start.end());
        const auto clocks = repeated(0xF8, static_cast<std::size_t>(ticks));
        bytes.insert(bytes.end(), clocks.begin(), clocks.end());
        midi(bytes);
    }

    FakeClock clock{1024.0};
    std::shared_ptr<FakeMidiInput::Shared> midiPort;
    LiveSync sync;
};

class LiveSyncTest : public ::testing::Test, public Rig {};

// --- MIDI bytes -----------------------------------------------------------

TEST_F(LiveSyncTest, ClockWhileStoppedRecordsSamplesWithoutMovingAndGivesNoClock) {
    for (int i = 0; i < 10; ++i) {
        clock.advance(0.125);
        midi({0xF8, 0xF8, 0xF8});
    }
    const auto s = state();
    EXPECT_EQ(s.ticks, 0);
    EXPECT_FALSE(s.playing);
    EXPECT_EQ(s.filled, 10);
    EXPECT_DOUBLE_EQ(s.lastMessage, clock.now());
    for (const auto& [time, beat] : samples()) EXPECT_EQ(beat, 0.0);
    EXPECT_FALSE(sync.beatClock(clock.now()));
}

TEST_F(LiveSyncTest, StartThenFortyEightClocksIsBeatTwoAndAPointerAnchors) {
    std::vector<std::uint8_t> bytes{0xFA};
    const auto clocks = repeated(0xF8, 48);
    bytes.insert(bytes.end(), clocks.begin(), clocks.end());
    midi(bytes);
    auto s = state();
    EXPECT_EQ(s.ticks, 48);
    EXPECT_TRUE(s.playing);
    EXPECT_FALSE(s.anchored);  // Start alone does not say where the song is
    ASSERT_EQ(samples().size(), 1u);
    EXPECT_DOUBLE_EQ(samples().back().second, 2.0);

    clock.advance(0.125);
    midi(pointer(16));
    s = state();
    EXPECT_EQ(s.ticks, 96);
    EXPECT_TRUE(s.anchored);
    EXPECT_DOUBLE_EQ(samples().back().second, 4.0);
}

TEST_F(LiveSyncTest, StopHoldsThePositionAndContinueResumesFromIt) {
    midi({0xFA, 0xF8, 0xF8, 0xFC, 0xF8, 0xF8, 0xF8});
    EXPECT_EQ(state().ticks, 2);
    EXPECT_FALSE(state().playing);
    midi({0xFB, 0xF8});
    EXPECT_EQ(state().ticks, 3);
    EXPECT_TRUE(state().playing);
}

TEST(LiveSyncPointer, APointerThatWrappedIsLiftedByWholeLapsNearThePreviousPosition) {
    Rig far;
    far.anchorAndRun(200000);
    ASSERT_EQ(far.state().ticks, 200000);
    far.midi(pointer(300));
    EXPECT_EQ(far.state().ticks, 1800 + 2 * 98304);

    // From 100,000 the pointer's own lap is the nearest: no lift.
    Rig near;
    near.anchorAndRun(100000);
    near.midi(pointer(300));
    EXPECT_EQ(near.state().ticks, 1800);

    // Without an anchor the position is unknown: the pointer is taken as is.
    Rig loose;
    loose.midi({0xFA});
    loose.midi(repeated(0xF8, 200000));
    loose.midi(pointer(300));
    EXPECT_EQ(loose.state().ticks, 1800);
}

TEST_F(LiveSyncTest, CutOrCorruptPointersAreSkippedAndTheRestStillActs) {
    midi({0xFA, 0xF8});  // playing, tick 1, one sample
    const auto before = state();

    clock.advance(1.0);
    midi({0xF2});
    midi({0xF2, 0x10});
    midi({0xFE, 0xFF, 0x90, 0x40, 0x7F, 0xF2, 0x01});  // sensing, reset, a note: nothing acts
    auto s = state();
    EXPECT_EQ(s.ticks, 1);
    EXPECT_FALSE(s.anchored);
    EXPECT_EQ(s.lastMessage, before.lastMessage);
    EXPECT_EQ(s.filled, before.filled);

    // A data byte with the top bit set is a status byte: the pointer is
    // dropped and that byte (a clock here) is read as itself.
    midi({0xF2, 0x10, 0xF8});
    midi({0xF2, 0x90, 0x01});
    s = state();
    EXPECT_EQ(s.ticks, 2);
    EXPECT_FALSE(s.anchored);

    midi({0xF8, 0xF2, 0x02, 0x00});  // a complete pointer after a clock still works
    EXPECT_EQ(state().ticks, 12);
    EXPECT_TRUE(state().anchored);

    midi(std::vector<std::uint8_t>{});  // an empty message is nothing at all
    EXPECT_EQ(state().ticks, 12);
}

TEST_F(LiveSyncTest, MidiSamplesAreRateLimitedToOnePerTenthOfASecond) {
    midi({0xFA});
    for (int i = 0; i < 6; ++i) {
        clock.advance(1.0 / 64);
        midi({0xF8});
    }
    EXPECT_EQ(state().filled, 1);
    clock.advance(1.0 / 64);
    midi({0xF8});
    EXPECT_EQ(state().filled, 2);
    EXPECT_DOUBLE_EQ(samples().back().second, 7.0 / 24.0);
}

TEST_F(LiveSyncTest, AnyHelperMessageSilencesMidiForFiveSeconds) {
    for (const json& message : {json::object(), json{{"type", "hello"}}, json{{"type", 7}}, json::array()}) {
        helper(message);
        const auto ticks = state().ticks;
        clock.advance(4.9375);
        midi({0xFA, 0xF8, 0xF8});
        EXPECT_EQ(state().ticks, ticks) << message;
        {
            std::scoped_lock held(sync.lock());
            EXPECT_TRUE(sync.helperFreshLocked(clock.now()));
        }
        clock.advance(0.0625);  // exactly 5 s after the message
        {
            std::scoped_lock held(sync.lock());
            EXPECT_FALSE(sync.helperFreshLocked(clock.now()));
        }
        midi({0xFA, 0xF8, 0xF8});
        EXPECT_EQ(state().ticks, 2) << message;
        midi({0xFC});
    }
}

// --- Helper messages --------------------------------------------------------

TEST_F(LiveSyncTest, PositionTruncatesToTicksAndKeepsThePlayStateUnlessGiven) {
    position(2.99, true);
    auto s = state();
    EXPECT_EQ(s.ticks, 71);
    EXPECT_TRUE(s.anchored);
    EXPECT_TRUE(s.playing);
    EXPECT_DOUBLE_EQ(s.lastMessage, clock.now());

    clock.advance(0.125);
    position(-0.5);
    s = state();
    EXPECT_EQ(s.ticks, -12);  // toward zero
    EXPECT_TRUE(s.playing);

    clock.advance(0.125);
    helper({{"type", "position"}, {"beat", 8}, {"playing", "no"}});
    EXPECT_TRUE(state().playing);
    EXPECT_EQ(state().ticks, 192);
    position(8, false);
    EXPECT_FALSE(state().playing);

    // Without a numeric beat nothing moves, not even the play state.
    clock.advance(0.125);
    const auto before = state();
    helper({{"type", "position"}, {"beat", "12"}, {"playing", true}});
    helper({{"type", "position"}, {"playing", true}});
    s = state();
    EXPECT_EQ(s.ticks, before.ticks);
    EXPECT_FALSE(s.playing);
    EXPECT_EQ(s.lastMessage, before.lastMessage);
    EXPECT_DOUBLE_EQ(s.helperLastMessage, clock.now());
}

TEST_F(LiveSyncTest, HelperSamplesAreRateLimitedToOnePerTwentiethOfASecond) {
    position(1, true);
    clock.advance(0.04);
    position(2);
    EXPECT_EQ(state().filled, 1);
    EXPECT_EQ(state().ticks, 48);  // the position itself still moves
    clock.advance(0.02);
    position(3);
    EXPECT_EQ(state().filled, 2);
}

TEST_F(LiveSyncTest, LocatorsAreParsedSortedStablyAndReplaceTheOldOnes) {
    helper({{"type", "locators"},
            {"locators",
             json::array({json::array({32, "Drop"}), json::array({16, "B"}), json::array({0, "Intro"}),
                          json::array({16, "A"}), json::array({4, 5}), json::array({8}), json::array({"9", "x"}),
                          "loose", json::array({2.5, "Half", "extra"}), json::array({1e300, "Far"})})},
            {"numerator", 7},
            {"denominator", 8}});
    std::vector<LiveSet::Locator> expected{{0, "Intro"}, {2.5, "Half"}, {4, ""}, {16, "B"}, {16, "A"}, {32, "Drop"}};
    auto s = state();
    EXPECT_EQ(s.helperLocators, expected);
    EXPECT_DOUBLE_EQ(s.helperBeatsPerBar, 3.5);

    helper({{"type", "locators"}, {"locators", "none"}, {"numerator", 6}, {"denominator", 0}});
    s = state();
    EXPECT_TRUE(s.helperLocators.empty());
    EXPECT_DOUBLE_EQ(s.helperBeatsPerBar, 3.5);

    helper({{"type", "locators"}, {"locators", json::array()}, {"numerator", 6}, {"denominator", 8}});
    EXPECT_DOUBLE_EQ(state().helperBeatsPerBar, 3.0);
    helper({{"type", "locators"}, {"numerator", 3}});
    EXPECT_DOUBLE_EQ(state().helperBeatsPerBar, 3.0);
}

TEST_F(LiveSyncTest, HostileNumbersAreRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    position(4, false);
    const auto before = state();
    for (const double beat : {1e300, -1e300, nan, inf, -inf, 1e7 + 1}) {
        clock.advance(0.125);
        position(beat, true);
        const auto s = state();
        EXPECT_EQ(s.ticks, before.ticks) << beat;
        EXPECT_FALSE(s.playing) << beat;
        EXPECT_EQ(s.filled, before.filled) << beat;
    }
    position(-1e7);
    EXPECT_EQ(state().ticks, -240000000);

    helper({{"type", "locators"}, {"locators", json::array({json::array({nan, "a"}), json::array({inf, "b"}), json::array({3, "ok"})})}});
    EXPECT_EQ(state().helperLocators, (std::vector<LiveSet::Locator>{{3, "ok"}}));

    const std::vector<std::pair<json, json>> signatures{
        {1e-9, 4}, {0, 4}, {-4, 4}, {100, 4}, {7.5, 8}, {nan, 4}, {inf, 4}, {4, 3}, {4, -4}, {4, 32}, {4, nan}, {4, "4"}, {true, 4}};
    for (const auto& [numerator, denominator] : signatures) {
        helper({{"type", "locators"}, {"numerator", numerator}, {"denominator", denominator}});
        EXPECT_DOUBLE_EQ(state().helperBeatsPerBar, 4.0) << numerator << "/" << denominator;
    }
    helper({{"type", "locators"}, {"numerator", 99}, {"denominator", 16}});
    EXPECT_DOUBLE_EQ(state().helperBeatsPerBar, 24.75);
    helper({{"type", "locators"}, {"numerator", 1}, {"denominator", 1}});
    EXPECT_DOUBLE_EQ(state().helperBeatsPerBar, 4.0);
}

// --- Beat clock -------------------------------------------------------------

TEST_F(LiveSyncTest, SteadyHelperPositionsGiveTheTempoAndTheExtrapolatedBeat) {
    position(0, true);
    const double last = run(0, 2.0, 2.0);
    const auto estimate = sync.beatClock(clock.now() + 0.25);
    ASSERT_TRUE(estimate);
    EXPECT_NEAR(estimate->beatsPerSecond, 2.0, 1e-9);
    EXPECT_NEAR(estimate->beat, last + 0.5, 1e-6);
}

TEST_F(LiveSyncTest, SteadyMidiClockGivesTheTempo) {
    midi(pointer(64));  // beat 16
    midi({0xFB});
    // 48 ticks per second, delivered six at a time: 2 beats per second.
    for (int i = 0; i < 40; ++i) {
        clock.advance(0.125);
        midi(repeated(0xF8, 6));
    }
    const auto estimate = sync.beatClock(clock.now());
    ASSERT_TRUE(estimate);
    EXPECT_NEAR(estimate->beatsPerSecond, 2.0, 1e-9);
    EXPECT_NEAR(estimate->beat, 16 + 40 * 0.25, 1e-6);
}

TEST_F(LiveSyncTest, AfterALoopJumpOnlyTheSamplesAfterTheJumpCount) {
    position(0, true);
    run(0, 2.0, 2.0);
    clock.advance(0.0625);
    position(4, true);  // looped back
    double beat = run(4, 2.0, 0.25);  // four more: five after the jump
    EXPECT_FALSE(sync.beatClock(clock.now()));
    beat = run(beat, 2.0, 0.0625);  // the sixth
    const auto estimate = sync.beatClock(clock.now());
    ASSERT_TRUE(estimate);
    EXPECT_NEAR(estimate->beatsPerSecond, 2.0, 1e-9);
    EXPECT_NEAR(estimate->beat, beat, 1e-9);
}

TEST(LiveSyncBeatClock, ALeapForwardFasterThanFiveBeatsPerSecondBreaksContinuity) {
    // Steps of 1/16 s at 2 beats per second are 0.125 beats; one step may
    // reach 1/16 × 5 + 0.5 = 0.8125 beats before it counts as a jump.
    auto fitAfterLeap = [](double leap) {
        Rig rig;
        rig.position(0, true);
        double beat = rig.run(0, 2.0, 1.0);
        rig.clock.advance(0.0625);
        beat += leap;
        rig.position(beat, true);
        beat = rig.run(beat, 2.0, 0.3125);
        const auto estimate = rig.sync.beatClock(rig.clock.now());
        EXPECT_TRUE(estimate);
        return estimate ? estimate->beatsPerSecond : 0.0;
    };
    EXPECT_GT(std::fabs(fitAfterLeap(0.8) - 2.0), 0.05);  // one line through everything
    EXPECT_NEAR(fitAfterLeap(0.85), 2.0, 1e-9);           // only the six after the leap
}

TEST_F(LiveSyncTest, NoClockWhenStoppedStaleSparseOrImplausible) {
    position(0, true);
    run(0, 2.0, 1.0);
    const double now = clock.now();
    EXPECT_TRUE(sync.beatClock(now + 1.49));
    EXPECT_FALSE(sync.beatClock(now + 1.5));

    position(2, false);
    EXPECT_FALSE(sync.beatClock(clock.now()));
    position(2, true);
    EXPECT_TRUE(sync.beatClock(clock.now()));

    // Every 0.75 s leaves five samples within 3 s; every 0.5 s leaves seven.
    LiveSync sparse(clock, nullptr);
    auto report = [&](double beat) {
        std::scoped_lock held(sparse.lock());
        sparse.applyHelper({{"type", "position"}, {"beat", beat}, {"playing", true}}, clock.now());
    };
    for (int i = 0; i < 10; ++i) {
        clock.advance(0.75);
        report(i * 1.5);
    }
    EXPECT_FALSE(sparse.beatClock(clock.now()));
    for (int i = 0; i < 10; ++i) {
        clock.advance(0.5);
        report(100 + i);
    }
    EXPECT_TRUE(sparse.beatClock(clock.now()));

    // 10 beats per second (600 BPM) is steady but not a tempo.
    run(200, 10.0, 1.0);
    EXPECT_FALSE(sync.beatClock(clock.now()));
    // Nor is a crawl of 0.2 beats per second.
    run(300, 0.2, 1.0);
    EXPECT_FALSE(sync.beatClock(clock.now()));
}

TEST_F(LiveSyncTest, ForEachSampleWalksTheRingOldestFirstFromAGivenTime) {
    EXPECT_TRUE(samples().empty());
    for (int i = 0; i < LiveSync::kRingSize + 10; ++i) {
        clock.advance(0.0625);
        position(i, true);
    }
    const auto all = samples();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(LiveSync::kRingSize));
    EXPECT_EQ(all.front().second, 10.0);
    EXPECT_EQ(all.back().second, LiveSync::kRingSize + 9.0);
    for (std::size_t i = 1; i < all.size(); ++i) ASSERT_LT(all[i - 1].first, all[i].first);
    const auto recent = samples(all[all.size() - 5].first);
    ASSERT_EQ(recent.size(), 5u);
    EXPECT_EQ(recent.front(), all[all.size() - 5]);
}

// --- MIDI port ----------------------------------------------------------------

TEST_F(LiveSyncTest, StartOpensThePortOnceAndStopClosesIt) {
    EXPECT_EQ(midiPort->opens, 1);
    sync.start();
    EXPECT_EQ(midiPort->opens, 1);
    sync.stop();
    EXPECT_EQ(midiPort->closes, 1);
    EXPECT_FALSE(midiPort->handler);
}

TEST(LiveSyncMidi, FailuresAreLoggedWithTheirStatusAndLeaveTheHelperPathWorking) {
    FakeClock clock;
    for (const auto& [result, line] :
         {std::pair{MidiOpenResult{MidiOpenResult::Failure::client, 8}, "Crestline: MIDI-client aanmaken mislukt (8)"},
          std::pair{MidiOpenResult{MidiOpenResult::Failure::port, 3}, "Crestline: MIDI-poort aanmaken mislukt (3)"}}) {
        auto shared = std::make_shared<FakeMidiInput::Shared>();
        shared->result = result;
        LiveSync sync(clock, std::make_unique<FakeMidiInput>(shared));
        LogCapture log;
        sync.start();
        EXPECT_EQ(log.lines(), std::vector<std::string>{line});
        sync.start();  // not open: tries again
        EXPECT_EQ(shared->opens, 2);
        std::scoped_lock held(sync.lock());
        sync.applyHelper({{"type", "position"}, {"beat", 1}}, clock.now());
        EXPECT_EQ(sync.stateLocked().ticks, 24);
    }
}

TEST(LiveSyncMidi, TheSystemPortOpensOrFailsSoft) {
    LogCapture log;
    LiveSync sync;
    sync.start();
    for (const auto& line : log.lines()) {
        EXPECT_TRUE(line.starts_with("Crestline: MIDI-client aanmaken mislukt (") ||
                    line.starts_with("Crestline: MIDI-poort aanmaken mislukt ("))
            << line;
    }
    sync.stop();
    EXPECT_FALSE(sync.beatClock(systemClock().now()));
}

}  // namespace
