#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

#include "capture/process_tap.h"
#include "platform/log.h"
#include "platform/simulated_sound_server.h"

using namespace crestline;

namespace {

using Request = SimulatedSoundServer::Request;
using Pair = ProcessTap::Pair;

constexpr std::int32_t kPid = 4242;
constexpr auto kAuto = TapSource::automatic();

// `frames` interleaved frames; sample (channel, frame) = value(channel, frame).
std::vector<float> interleaved(int channels, int frames, const std::function<float(int, int)>& value) {
    std::vector<float> samples;
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) samples.push_back(value(c, f));
    }
    return samples;
}

// Channel c carries the constant c + 1.
std::vector<float> numbered(int channels, int frames) {
    return interleaved(channels, frames, [](int c, int) { return static_cast<float>(c + 1); });
}

// Only the channels in `loud` carry signal.
std::vector<float> loudOn(int channels, int frames, std::vector<int> loud, float level = 0.5f) {
    return interleaved(channels, frames, [&](int c, int) {
        return std::find(loud.begin(), loud.end(), c) != loud.end() ? level : 0.0f;
    });
}

// What the handler received last, and how often it ran.
struct Received {
    std::vector<float> left;
    std::vector<float> right;
    int calls = 0;
    int frames = 0;

    ProcessTap::Handler handler() {
        return [this](const float* l, const float* r, int n) {
            left.assign(l, l + n);
            right.assign(r, r + n);
            ++calls;
            frames += n;
        };
    }
};

std::string failureOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const CoreAudioError& error) {
        return error.description();
    }
    return "no failure";
}

class ProcessTapTest : public ::testing::Test {
protected:
    // A sink of `channels` that `pid` plays to; the first one made is the default.
    std::uint32_t addPlayer(int channels, std::int32_t pid = kPid) {
        const std::string name = "sink" + std::to_string(channels) + "-" + std::to_string(pid);
        const std::uint32_t sink = sim->addSink(name, channels);
        input = sim->addSinkInput(sink, pid);
        return sink;
    }

    std::unique_ptr<ProcessTap> prepared(TapSource source = kAuto, std::int32_t pid = kPid) {
        auto tap = std::make_unique<ProcessTap>(pid, TapMode::tapOnly, source);
        tap->prepare();
        return tap;
    }

    std::unique_ptr<ProcessTap> running(TapSource source = kAuto, std::int32_t pid = kPid) {
        auto tap = prepared(source, pid);
        tap->start(received.handler());
        return tap;
    }

    int choiceOf(ProcessTap& tap, const std::vector<float>& samples, int channels) {
        sim->deliver(samples, channels);
        tap.refreshAutoSelection();
        return tap.activePair();
    }

    std::shared_ptr<SimulatedSoundServer> sim = std::make_shared<SimulatedSoundServer>();
    ScopedSoundServer scoped{sim};
    LogCapture logs;
    Received received;
    std::uint32_t input = 0;
};

}  // namespace

TEST_F(ProcessTapTest, AProcessIsFoundByItsStreamOrItsClientAndItsSinkDescribed) {
    const std::uint32_t speakers = sim->addSink("speakers", 2);
    const std::uint32_t octo = sim->addSink("octo", 8, 96000.0);
    sim->addSinkInput(speakers, 7);
    const std::uint32_t native = sim->addSinkInput(octo, std::nullopt, 9);  // pw-play: only the client names it
    const std::uint32_t second = sim->addSinkInput(speakers, 7);
    EXPECT_EQ(ProcessTap::sinkInputOf(7), second - 2);  // the lowest of its streams
    EXPECT_EQ(ProcessTap::sinkInputOf(9), native);
    EXPECT_EQ(failureOf([] { ProcessTap::sinkInputOf(8); }), "Ableton heeft nog geen actief audioproces (OSStatus 0)");
    sim->fail(Request::sinkInputs, ServerStatus::unreachable);
    EXPECT_EQ(failureOf([] { ProcessTap::sinkInputOf(7); }),
              "Ableton heeft nog geen actief audioproces (OSStatus 1937010544)");

    const ProcessTap::Device expected{octo, "Simulated octo", "octo", 8, "aux0,aux1,aux2,aux3,aux4,aux5,aux6,aux7",
                                      96000.0};
    EXPECT_EQ(ProcessTap::currentDevice(native, false), expected);
    EXPECT_EQ(ProcessTap::currentDevice(std::nullopt, false).value().uid, "speakers");  // all sound: the default
    sim->removeSinkInput(native);
    EXPECT_FALSE(ProcessTap::currentDevice(native, false));
    EXPECT_EQ(ProcessTap::currentDevice(native, true).value().uid, "speakers");
    sim->setDefaultSink("");
    EXPECT_FALSE(ProcessTap::currentDevice(std::nullopt, true));
    sim->fail(Request::sinkInputs, ServerStatus::refused);
    EXPECT_FALSE(ProcessTap::currentDevice(second, true));
}

TEST_F(ProcessTapTest, RecordsTheProcessStreamOrTheWholeSinkAndMixesDownOnlyWhenAsked) {
    addPlayer(2);
    for (const auto& [pid, source, line, mixdown] :
         {std::tuple{kPid, kAuto, "record sink2-4242 input 1", false}, {0, kAuto, "record sink2-4242", false},
          {kPid, TapSource::mixdown(), "record sink2-4242 input 1", true}}) {
        sim->clearJournal();
        const auto tap = prepared(source, pid);
        EXPECT_EQ(sim->journal().back(), line);
        EXPECT_EQ(tap->usingMixdown(), mixdown);
        EXPECT_EQ(tap->sinkInput(), pid ? std::optional<std::uint32_t>(input) : std::nullopt);
        EXPECT_DOUBLE_EQ(tap->sampleRate(), 48000.0);
        ASSERT_TRUE(tap->device());
        EXPECT_EQ(tap->device()->uid, "sink2-4242");
    }
    // The server's answers are bounded by one deadline, two seconds out.
    const auto now = std::chrono::steady_clock::now();
    prepared();
    EXPECT_LE(sim->lastDeadline(), now + std::chrono::milliseconds(2100));
    EXPECT_GT(sim->lastDeadline(), now + std::chrono::milliseconds(1900));
}

TEST_F(ProcessTapTest, FramesBeforeStartAreDroppedAndTheLayoutIsLoggedAtTheFirstBlock) {
    addPlayer(2);
    auto tap = prepared();
    EXPECT_EQ(sim->deliver(numbered(2, 8), 2), 1);
    EXPECT_EQ(tap->callbackCount(), 0);
    EXPECT_TRUE(tap->pairMap().empty());
    tap->start(received.handler());
    sim->deliver(numbered(2, 8), 2);
    sim->deliver(numbered(2, 8), 2);
    EXPECT_EQ(received.calls, 2);
    EXPECT_EQ(tap->callbackCount(), 2);
    EXPECT_EQ(logs.lines(), std::vector<std::string>{"Crestline: 1 buffers [2ch/64b], skip 0, mode tapOnly, per stream, "
                                                     "1 paren, 48000.0 Hz"});
}

TEST_F(ProcessTapTest, PairsOfEveryLayoutAndTheChosenOneDelivered) {
    struct Case {
        int channels;
        TapSource source;
        int frames;
        std::size_t pairs;
        float left;  // the delivered pair's channels are numbered left and left + 1
    };
    const std::vector<Case> cases = {
        {8, TapSource::pair(5), 16, 4, 7.0f},  // beyond the last pair: the last
        {3, TapSource::pair(1), 4, 1, 1.0f},   // a lone last channel makes no pair
        {4, TapSource::pair(-3), 4, 2, 1.0f},
        {32, TapSource::pair(15), 2, 16, 31.0f},
        {2, kAuto, 9000, 1, 1.0f},  // longer than the scratch buffers: in pieces
        {1, kAuto, 4, 0, 0.0f},     // mono: no pair, nothing delivered
    };
    std::int32_t pid = kPid;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        addPlayer(c.channels, ++pid);
        received = {};
        auto tap = running(c.source, pid);
        sim->deliver(numbered(c.channels, c.frames), c.channels);
        ASSERT_EQ(tap->pairMap().size(), c.pairs);
        if (c.pairs > 0) {
            EXPECT_EQ(tap->pairMap().back(), (Pair{0, 2 * static_cast<int>(c.pairs) - 2}));
        }
        EXPECT_EQ(received.frames, c.pairs ? c.frames : 0);
        if (c.pairs == 0) continue;
        EXPECT_EQ(received.left.back(), c.left);
        EXPECT_EQ(received.right.back(), c.left + 1.0f);

        // A fixed pair stays whatever plays.
        const int chosen = tap->activePair();
        sim->deliver(loudOn(c.channels, 8, {0}), c.channels);
        tap->refreshAutoSelection();
        if (c.source.kind == TapSource::Kind::pair) {
            EXPECT_EQ(tap->activePair(), chosen);
        }
    }
}

TEST_F(ProcessTapTest, AutoSelectionPicksTheLowestActivePairNotTheLoudest) {
    addPlayer(8);
    auto tap = running();
    EXPECT_EQ(choiceOf(*tap, loudOn(8, 64, {}), 8), 0);  // silence everywhere: the choice stays

    // Pairs 1 and 2 both play, pair 2 louder: pair 1 wins.
    EXPECT_EQ(choiceOf(*tap, interleaved(8, 64, [](int c, int) { return c == 2 ? 0.1f : (c == 5 ? 0.9f : 0.0f); }), 8), 1);
    sim->deliver(numbered(8, 4), 8);
    EXPECT_EQ(received.left, std::vector<float>(4, 3.0f));
    EXPECT_EQ(received.right, std::vector<float>(4, 4.0f));
    tap->refreshAutoSelection();

    // Peaks start over at each choice: pair 1 falls silent, pair 3 plays.
    EXPECT_EQ(choiceOf(*tap, loudOn(8, 64, {7}), 8), 3);
    // Below about -66 dBFS a pair counts as silent; the choice stays.
    EXPECT_EQ(choiceOf(*tap, loudOn(8, 64, {0}, 0.0004f), 8), 3);
    EXPECT_EQ(choiceOf(*tap, loudOn(8, 64, {1}, 0.0006f), 8), 0);

    // A block narrower than the first one has no such pair: nothing is delivered.
    received = {};
    EXPECT_EQ(choiceOf(*tap, loudOn(8, 64, {7}), 8), 3);
    sim->deliver(numbered(4, 8), 4);
    EXPECT_EQ(received.calls, 1);
}

TEST_F(ProcessTapTest, OurMixdownSumsEachSideAfterTheLevelCorrection) {
    struct Case {
        int channels;
        double scale;
        const char* gain;  // logged when not 1
        float left, right;  // channel c carries (c + 1) / 100
    };
    std::int32_t pid = kPid;
    for (const Case& c : {Case{2, 1.0, "", 0.01f, 0.02f}, Case{6, 3.0, "+9.54 dB voor 6", 0.09f, 0.12f},
                          Case{8, 4.0, "+12.04 dB voor 8", 0.16f, 0.20f}, Case{1, 1.0, "", 0.01f, 0.01f},
                          Case{3, 1.5, "+3.52 dB voor 3", 0.04f, 0.05f}}) {
        SCOPED_TRACE(c.channels);
        addPlayer(c.channels, ++pid);
        logs.clear();
        auto tap = running(TapSource::mixdown(), pid);
        EXPECT_TRUE(tap->usingMixdown());
        EXPECT_DOUBLE_EQ(tap->mixdownScale(), c.scale);
        const std::string line = std::string("Crestline: mixdown corrigeert ") + c.gain + " kanalen";
        EXPECT_EQ(logs.count("Crestline: mixdown"), *c.gain ? 1 : 0);
        if (*c.gain) {
            EXPECT_TRUE(logs.contains(line));
        }
        sim->deliver(interleaved(c.channels, 16, [](int ch, int) { return (ch + 1) / 100.0f; }), c.channels);
        EXPECT_NEAR(received.left.at(15), c.left, 1e-6);
        EXPECT_NEAR(received.right.at(0), c.right, 1e-6);
        EXPECT_TRUE(tap->pairMap().empty());
    }
}

TEST_F(ProcessTapTest, AFailedStreamRecordingFallsBackToTheMixdownAndEveryStepNamesItsFailure) {
    addPlayer(2);
    sim->fail(Request::record, ServerStatus::refused);
    const auto tap = prepared();
    EXPECT_TRUE(tap->usingMixdown());
    EXPECT_EQ(sim->recordingCount(), 1);
    EXPECT_EQ(logs.lines().front(), "Crestline: per-stream tap lukt niet (Tap op stream 0 aanmaken mislukt (OSStatus "
                                    "2003329396)), terugval op mixdown");

    struct Case {
        std::function<void()> script;
        std::int32_t pid;
        std::string description;
    };
    const std::vector<Case> cases = {
        {[] {}, 999, "Ableton heeft nog geen actief audioproces (OSStatus 0)"},
        {[&] { sim->fail(Request::record, ServerStatus::noSuchEntity, 2); }, kPid,
         "Process tap aanmaken mislukt (OSStatus 560947818)"},
        // No sink to record: the default is asked for and there is none.
        {[&] { sim->setDefaultSink(""); }, 0, "Process tap aanmaken mislukt (OSStatus 560947818)"},
        // A server that does not answer fails the step it was at.
        {[&] { sim->setUnresponsive(true); }, kPid, "Ableton heeft nog geen actief audioproces (OSStatus 1937010544)"},
        {[&] { sim->setUnresponsive(true); }, 0, "Process tap aanmaken mislukt (OSStatus 1937010544)"},
    };
    for (const auto& c : cases) {
        sim->clearFailures();
        sim->setDefaultSink("sink2-4242");
        c.script();
        ProcessTap failing(c.pid, TapMode::tapOnly, kAuto);
        EXPECT_EQ(failureOf([&] { failing.prepare(); }), c.description);
        EXPECT_EQ(sim->recordingCount(), 1);  // only the first tap's
        EXPECT_EQ(failureOf([&] { failing.start(received.handler()); }), "Audio callback aanmaken mislukt (OSStatus 0)");
    }
}

TEST_F(ProcessTapTest, UnusableRatesLeaveNothingOpen) {
    for (const auto& [rate, text] : std::vector<std::pair<double, std::string>>{
             {INFINITY, "inf"}, {1e9, "1e+09"}, {4000.0, "4000.0"}, {768000.5, "768000.5"}}) {
        const std::uint32_t stream = sim->addSinkInput(sim->addSink("odd " + text, 2, rate), kPid);
        EXPECT_EQ(failureOf([&] { prepared(); }), "Samplerate " + text + " Hz wordt niet ondersteund (OSStatus 0)");
        EXPECT_EQ(sim->recordingCount(), 0);
        sim->removeSinkInput(stream);
    }
    sim->addSinkInput(sim->addSink("fast", 2, 768000.0), kPid);
    EXPECT_DOUBLE_EQ(prepared()->sampleRate(), 768000.0);
}

TEST_F(ProcessTapTest, ARecordingThatEndsIsReportedWithHowAndDeliversNothingMore) {
    for (const auto how : {RecordingEnd::streamGone, RecordingEnd::serverGone, RecordingEnd::stalled}) {
        addPlayer(2);
        received = {};
        auto tap = running();
        sim->deliver(numbered(2, 8), 2);
        EXPECT_FALSE(tap->streamFailed());
        EXPECT_FALSE(tap->failure());
        EXPECT_EQ(sim->end(how, "Entity killed"), 1);
        EXPECT_TRUE(tap->streamFailed());
        EXPECT_EQ(tap->failure(), how);
        EXPECT_EQ(sim->deliver(numbered(2, 8), 2), 0);
        EXPECT_EQ(received.calls, 1);
        sim->clearJournal();
        tap->stop();
        tap->stop();
        EXPECT_EQ(sim->journal(), std::vector<std::string>{"close sink2-4242"});
        EXPECT_FALSE(tap->liveSampleRate());
    }
    EXPECT_TRUE(logs.contains("Crestline: audiostream gestopt (Entity killed)"));
    EXPECT_TRUE(logs.contains("Crestline: audiostream server weg (Entity killed)"));
    EXPECT_TRUE(logs.contains("Crestline: audiostream stil (Entity killed)"));

    // Ended between prepare and start: the start fails and closes it.
    auto tap = prepared();
    sim->end(RecordingEnd::streamGone, "Entity killed");
    EXPECT_EQ(failureOf([&] { tap->start(received.handler()); }), "Audio starten mislukt (OSStatus 560947818)");
    EXPECT_EQ(sim->recordingCount(), 0);
}

TEST_F(ProcessTapTest, LiveRateIsWhatTheServerLastReportedForTheSink) {
    addPlayer(2);
    const auto tap = running();
    EXPECT_EQ(tap->liveSampleRate(), 48000.0);
    sim->setSinkRate("sink2-4242", 44100.0);
    EXPECT_EQ(tap->liveSampleRate(), 44100.0);
    sim->setSinkRate("sink2-4242", NAN);
    EXPECT_FALSE(tap->liveSampleRate());
}

TEST_F(ProcessTapTest, StopWaitsForARunningCallbackAndNoneFollows) {
    addPlayer(2);
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    std::atomic<int> calls{0};
    const auto tap = prepared();
    tap->start([&](const float*, const float*, int) {
        inside = true;
        while (!release) std::this_thread::yield();
        ++calls;
        inside = false;
    });
    sim->deliverAsync(numbered(2, 64), 2);
    while (!inside) std::this_thread::yield();

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        tap->stop();
        stopped = true;
    });
    // Once stop has reached the server it must still be waiting for the callback.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sim->recordingCount() > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_FALSE(stopped);
    release = true;
    stopper.join();
    EXPECT_FALSE(inside);
    EXPECT_EQ(calls, 1);
}

TEST_F(ProcessTapTest, StopRacingCallbacksIsClean) {
    addPlayer(8);
    for (int round = 0; round < 20; ++round) {
        std::atomic<std::int64_t> frames{0};
        std::atomic<float> lastSum{0.0f};
        const auto tap = prepared();
        tap->start([&](const float* left, const float* right, int n) {
            float sum = 0.0f;
            for (int i = 0; i < n; ++i) sum += left[i] + right[i];  // every sample read: the sanitizer checks
            lastSum = sum;
            frames += n;
        });
        std::atomic<bool> done{false};
        std::thread feeder([&] {
            while (!done) {
                sim->deliverAsync(numbered(8, 480 + round * 37), 8);
                tap->refreshAutoSelection();
            }
        });
        while (frames == 0) std::this_thread::yield();
        tap->stop();
        const auto after = frames.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(frames.load(), after);
        done = true;
        feeder.join();
    }
}
