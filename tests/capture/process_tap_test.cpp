#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>

#include "capture/core_audio.h"
#include "capture/process_tap.h"
#include "platform/log.h"
#include "platform/simulated_audio_service.h"

using namespace crestline;

namespace {

using Fault = SimulatedAudioService::Fault;
using Call = SimulatedAudioService::Call;
using Buffer = SimulatedAudioService::Buffer;
using Pair = ProcessTap::Pair;

constexpr std::int32_t kPid = 4242;

// `frames` interleaved frames; sample (channel, frame) = value(channel, frame).
Buffer interleaved(std::uint32_t channels, int frames, const std::function<float(int, int)>& value) {
    Buffer buffer;
    buffer.channels = channels;
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < static_cast<int>(channels); ++c) buffer.samples.push_back(value(c, f));
    }
    return buffer;
}

// Channel c carries the constant c + 1.
Buffer numbered(std::uint32_t channels, int frames) {
    return interleaved(channels, frames, [](int c, int) { return static_cast<float>(c + 1); });
}

// Only the channels in `loud` carry signal; the rest are silent.
Buffer loudOn(std::uint32_t channels, int frames, std::vector<int> loud, float level = 0.5f) {
    return interleaved(channels, frames, [&](int c, int) {
        return std::find(loud.begin(), loud.end(), c) != loud.end() ? level : 0.0f;
    });
}

Buffer withoutData(Buffer buffer) {
    buffer.noData = true;
    return buffer;
}

// The pairs of one buffer of 2 * count channels.
std::vector<Pair> pairsOf(int count) {
    std::vector<Pair> pairs;
    for (int p = 0; p < count; ++p) pairs.push_back({0, 2 * p});
    return pairs;
}

// What the handler received last, and how often it ran.
struct Received {
    std::vector<float> left;
    std::vector<float> right;
    int calls = 0;

    ProcessTap::Handler handler() {
        return [this](const float* l, const float* r, int frames) {
            left.assign(l, l + frames);
            right.assign(r, r + frames);
            ++calls;
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
    // One device of the given streams that `pid` plays to.
    void addPlayer(std::vector<std::uint32_t> streams, int inputStreams = 0, std::int32_t pid = kPid) {
        device = sim->addDevice("Interface", "interface-uid-" + std::to_string(pid), std::move(streams), 48000.0,
                                inputStreams);
        process = sim->addProcess(pid, {device});
    }

    std::unique_ptr<ProcessTap> prepared(TapSource source = TapSource::automatic(), TapMode mode = TapMode::tapOnly,
                                         std::int32_t pid = kPid) {
        auto tap = std::make_unique<ProcessTap>(pid, mode, source);
        tap->prepare();
        return tap;
    }

    // Prepared and started; the handler fills `received`.
    std::unique_ptr<ProcessTap> running(TapSource source, TapMode mode = TapMode::tapOnly, std::int32_t pid = kPid) {
        auto tap = prepared(source, mode, pid);
        tap->start(received.handler());
        return tap;
    }

    // The pair the tap chooses after one callback of `buffers`.
    int choiceOf(ProcessTap& tap, const std::vector<Buffer>& buffers) {
        sim->deliver(buffers);
        tap.refreshAutoSelection();
        return tap.activePair();
    }

    // Nothing of a failed or stopped tap is left in the service.
    void expectNothingLeft() {
        EXPECT_TRUE(sim->taps().empty());
        EXPECT_TRUE(sim->aggregates().empty());
        EXPECT_EQ(sim->ioProcCount(), 0);
    }

    std::shared_ptr<SimulatedAudioService> sim = std::make_shared<SimulatedAudioService>();
    ScopedAudioService scoped{sim};
    LogCapture logs;
    Received received;
    AudioObjectID device = 0;
    AudioObjectID process = 0;
};

}  // namespace

TEST_F(ProcessTapTest, ListsTakeOnlyTheWholeEntriesTheDataReadReports) {
    addPlayer({2, 8});
    const auto inputStreams = [&] {
        return CA::readObjectList(device, kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput);
    };
    sim->clearJournal();
    EXPECT_TRUE(inputStreams().empty());
    EXPECT_EQ(sim->journal(), std::vector<std::string>{"size stm# " + std::to_string(device)});  // no data read

    const auto answer = [&](std::vector<std::byte> bytes) {
        sim->setProperty(device, {kAudioDevicePropertyStreams, kAudioObjectPropertyScopeInput}, std::move(bytes));
        return inputStreams();
    };
    EXPECT_TRUE(answer(std::vector<std::byte>(3)).empty());
    std::vector<std::byte> bytes(10, std::byte{0});  // two entries and a stray half
    bytes[0] = std::byte{7};
    bytes[4] = std::byte{9};
    EXPECT_EQ(answer(bytes), (std::vector<AudioObjectID>{7, 9}));

    // The list shrank between the size and the data read.
    sim->inject(Fault::empty(Call::getPropertyData));
    EXPECT_TRUE(inputStreams().empty());
}

TEST_F(ProcessTapTest, EveryFailureNamesItsStepAndCarriesTheServiceStatus) {
    addPlayer({2, 8});
    sim->setStringProperty(device, kAudioObjectPropertyName, std::nullopt);
    const auto rate = [&](auto type) { CA::read(device, kAudioDevicePropertyNominalSampleRate, type); };
    const auto list = [&] { CA::readObjectList(device, kAudioDevicePropertyStreams); };
    struct Case {
        std::optional<Fault> fault;
        std::function<void()> body;
        std::string description;
    };
    const std::vector<Case> cases = {
        {Fault::failing(Call::getPropertyData, kAudioHardwareBadObjectError), [&] { rate(0.0); },
         "Core Audio property lezen mislukt (OSStatus 560947818)"},
        // A value of the wrong size is refused rather than half written.
        {{}, [&] { rate(std::uint32_t{0}); }, "Core Audio property lezen mislukt (OSStatus 561211770)"},
        {{}, [&] { CA::read(999, kAudioDevicePropertyNominalSampleRate, 0.0); },
         "Core Audio property lezen mislukt (OSStatus 560947818)"},
        {Fault::failing(Call::getPropertyDataSize, kAudioHardwareUnknownPropertyError), list,
         "Core Audio lijstgrootte lezen mislukt (OSStatus 2003332927)"},
        {Fault::failing(Call::getPropertyData, kAudioHardwareUnspecifiedError), list,
         "Core Audio lijst lezen mislukt (OSStatus 2003329396)"},
        {Fault::failing(Call::getPropertyString, kAudioHardwareBadDeviceError),
         [&] { CA::readString(device, kAudioDevicePropertyDeviceUID); },
         "Core Audio string lezen mislukt (OSStatus 560227702)"},
        {{}, [&] { CA::readString(device, kAudioObjectPropertyName); }, "Core Audio string lezen mislukt (OSStatus 0)"},
        {{}, [] { CA::processObject(7); }, "Ableton heeft nog geen actief audioproces (OSStatus 0)"},
        {Fault::failing(Call::getPropertyData, kAudioHardwareNotRunningError), [] { CA::processObject(kPid); },
         "Ableton heeft nog geen actief audioproces (OSStatus 1937010544)"},
    };
    for (const auto& c : cases) {
        if (c.fault) sim->inject(*c.fault);
        EXPECT_EQ(failureOf(c.body), c.description);
    }
}

TEST_F(ProcessTapTest, CurrentDeviceDescribesWhatTheProcessPlaysToOrTheDefaultWhenAllowed) {
    addPlayer({2, 6});
    auto found = ProcessTap::currentDevice(process, false).value();
    EXPECT_EQ(found.id, device);
    EXPECT_EQ(found.name, "Interface");
    EXPECT_EQ(found.uid, "interface-uid-4242");
    EXPECT_EQ(found.streamChannels, (std::vector<int>{2, 6}));

    sim->inject(Fault::failing(Call::getPropertyString, kAudioHardwareUnspecifiedError).on(kAudioObjectPropertyName));
    sim->inject(Fault::failing(Call::getPropertyData, kAudioHardwareUnspecifiedError).on(kAudioStreamPropertyVirtualFormat));
    found = ProcessTap::currentDevice(process, false).value();
    EXPECT_EQ(found.name, "onbekend apparaat");
    EXPECT_EQ(found.streamChannels, (std::vector<int>{0, 6}));

    sim->inject(Fault::failing(Call::getPropertyDataSize, kAudioHardwareUnspecifiedError).on(kAudioDevicePropertyStreams));
    EXPECT_TRUE(ProcessTap::currentDevice(process, false).value().streamChannels.empty());

    sim->inject(Fault::failing(Call::getPropertyString, kAudioHardwareUnspecifiedError).on(kAudioDevicePropertyDeviceUID));
    EXPECT_FALSE(ProcessTap::currentDevice(process, false));

    // A process playing nowhere falls back to the default output only when allowed.
    const AudioObjectID speakers = sim->addDevice("Speakers", "speakers", {2});
    sim->setDefaultOutputDevice(speakers);
    const AudioObjectID silent = sim->addProcess(77, {});
    EXPECT_FALSE(ProcessTap::currentDevice(silent, false));
    EXPECT_EQ(ProcessTap::currentDevice(silent, true).value().id, speakers);
    EXPECT_EQ(ProcessTap::currentDevice(0, false).value().id, speakers);

    // A failing read counts like an empty list.
    sim->inject(Fault::failing(Call::getPropertyDataSize, kAudioHardwareBadObjectError).on(kAudioProcessPropertyDevices));
    EXPECT_EQ(ProcessTap::currentDevice(silent, true).value().id, speakers);

    // A listed device 0 is "none", not "ask for the default".
    EXPECT_FALSE(ProcessTap::currentDevice(sim->addProcess(78, {0}), true));

    sim->setDefaultOutputDevice(0);
    EXPECT_FALSE(ProcessTap::currentDevice(0, true));
}

TEST_F(ProcessTapTest, PreparesOneTapPerStreamOfTheProcessOrOfAllSoundAndAPrivateAggregate) {
    addPlayer({2, 8});  // also the default output, whose sound pid 0 taps
    for (const std::int32_t pid : {kPid, 0}) {
        SCOPED_TRACE(pid);
        const auto tap = prepared(TapSource::automatic(), TapMode::tapOnly, pid);
        EXPECT_EQ(tap->processObjectID(), pid ? process : 0u);
        EXPECT_FALSE(tap->usingMixdown());
        EXPECT_DOUBLE_EQ(tap->sampleRate(), 48000.0);
        EXPECT_EQ(tap->skipBuffers(), 0);

        const auto taps = sim->taps();
        const auto aggregates = sim->aggregates();
        ASSERT_EQ(taps.size(), 2u);
        ASSERT_EQ(aggregates.size(), 1u);
        const auto& aggregate = aggregates.front().description;
        ASSERT_EQ(aggregate.taps.size(), 2u);
        for (std::size_t s = 0; s < 2; ++s) {
            const auto& description = taps[s].description;
            EXPECT_EQ(description.kind, pid ? TapDescription::Kind::processes : TapDescription::Kind::excludingProcesses);
            EXPECT_EQ(description.processes, pid ? std::vector<AudioObjectID>{process} : std::vector<AudioObjectID>{});
            EXPECT_EQ(description.deviceUID, "interface-uid-4242");
            EXPECT_EQ(description.stream, static_cast<int>(s));
            EXPECT_EQ(description.name, "Crestline stream " + std::to_string(s));
            EXPECT_EQ(aggregate.taps[s].uid, description.uuid);
            EXPECT_TRUE(aggregate.taps[s].drift);
        }
        EXPECT_EQ(aggregate.name, "Crestline Tap");
        const std::string prefix = "app.crestline.Crestline.tap.";
        EXPECT_EQ(aggregate.uid.rfind(prefix, 0), 0u);
        EXPECT_EQ(aggregate.uid.size(), prefix.size() + 36);  // a fresh UUID each time
        EXPECT_TRUE(aggregate.isPrivate);
        EXPECT_FALSE(aggregate.isStacked);
        EXPECT_TRUE(aggregate.tapAutoStart);
        EXPECT_FALSE(aggregate.mainSubDevice);
        EXPECT_TRUE(aggregate.subDevices.empty());
    }
    const auto mixdown = prepared(TapSource::mixdown(), TapMode::tapOnly, 0);
    ASSERT_EQ(sim->taps().size(), 1u);
    EXPECT_EQ(sim->taps().front().description.kind, TapDescription::Kind::stereoGlobal);
    EXPECT_EQ(sim->taps().front().description.name, "Crestline mixdown");
}

TEST_F(ProcessTapTest, WithOutputDeviceTheDeviceLeadsAndItsInputBuffersAreSkipped) {
    addPlayer({2}, 1);
    auto tap = running(TapSource::automatic(), TapMode::withOutputDevice);
    const auto aggregate = sim->aggregates().front().description;
    EXPECT_EQ(aggregate.mainSubDevice, std::optional<std::string>("interface-uid-4242"));
    EXPECT_EQ(aggregate.subDevices, std::vector<std::string>{"interface-uid-4242"});
    EXPECT_EQ(tap->skipBuffers(), 1);

    // The device's own input comes first and must not be measured.
    ASSERT_EQ(sim->deliver({loudOn(2, 32, {0, 1}, 0.9f), numbered(2, 32)}), 1);
    EXPECT_EQ(received.left, std::vector<float>(32, 1.0f));
    EXPECT_EQ(received.right, std::vector<float>(32, 2.0f));
    EXPECT_TRUE(logs.contains("Crestline: 2 buffers [2ch/256b, 2ch/256b], skip 1, mode withOutputDevice, per stream, "
                              "1 paren, 48000.0 Hz"));

    // With no more buffers than it skips, nothing is skipped.
    sim->deliver({numbered(2, 8)});
    EXPECT_EQ(received.left, std::vector<float>(8, 1.0f));
    EXPECT_EQ(received.calls, 2);

    // Likewise for the layout the first callback gives.
    addPlayer({2}, 3, kPid + 1);
    tap = running(TapSource::automatic(), TapMode::withOutputDevice, kPid + 1);
    EXPECT_EQ(tap->skipBuffers(), 3);
    sim->deliver({numbered(2, 8), numbered(2, 8)});
    EXPECT_EQ(tap->pairMap(), (std::vector<Pair>{{0, 0}, {1, 0}}));
    EXPECT_EQ(received.calls, 3);
}

TEST_F(ProcessTapTest, PairsOfEveryLayoutAndTheChosenOneDelivered) {
    struct Case {
        std::vector<std::uint32_t> streams;
        TapSource source;
        int frames;
        std::vector<Pair> pairs;
        float left;  // the delivered pair's channels are numbered left and left + 1
    };
    const std::vector<Case> cases = {
        {{8}, TapSource::pair(5), 16, pairsOf(4), 7.0f},  // beyond the last pair: the last
        {{3, 1, 5}, TapSource::pair(2), 4, {{0, 0}, {2, 0}, {2, 2}}, 3.0f},
        {{4}, TapSource::pair(-3), 4, pairsOf(2), 1.0f},
        {{130}, TapSource::pair(100), 2, pairsOf(64), 127.0f},  // at most 64 pairs
        {{2}, TapSource::automatic(), 5000, pairsOf(1), 1.0f},  // a long callback grows the buffers
    };
    std::int32_t pid = kPid;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.streams.front());
        addPlayer(c.streams, 0, ++pid);
        logs.clear();
        auto tap = running(c.source, TapMode::tapOnly, pid);
        std::vector<Buffer> buffers;
        for (const auto channels : c.streams) buffers.push_back(numbered(channels, c.frames));
        ASSERT_EQ(sim->deliver(buffers), 1);
        EXPECT_EQ(tap->pairMap(), c.pairs);
        EXPECT_EQ(received.left, std::vector<float>(static_cast<std::size_t>(c.frames), c.left));
        EXPECT_EQ(received.right, std::vector<float>(static_cast<std::size_t>(c.frames), c.left + 1.0f));

        // A fixed pair stays whatever plays; the layout is read and logged once.
        const int chosen = tap->activePair();
        tap->refreshAutoSelection();
        sim->deliver(buffers);
        EXPECT_EQ(tap->activePair(), chosen);
        EXPECT_EQ(tap->callbackCount(), 2);
        ASSERT_EQ(logs.lines().size(), 1u);
        EXPECT_NE(logs.lines().front().find("mode tapOnly, per stream, " + std::to_string(c.pairs.size()) +
                                            " paren, 48000.0 Hz"),
                  std::string::npos);
    }
}

TEST_F(ProcessTapTest, AutoSelectionPicksTheLowestActivePairNotTheLoudest) {
    addPlayer({8});
    auto tap = running(TapSource::automatic());
    const auto choiceAfter = [&](const Buffer& buffer) { return choiceOf(*tap, {buffer}); };
    EXPECT_EQ(choiceAfter(loudOn(8, 64, {})), 0);  // silence everywhere: the choice stays

    // Pairs 1 and 2 both play, pair 2 louder: pair 1 wins.
    EXPECT_EQ(choiceAfter(interleaved(8, 64, [](int c, int) { return c == 2 ? 0.1f : (c == 5 ? 0.9f : 0.0f); })), 1);
    sim->deliver({interleaved(8, 4, [](int c, int) { return c == 2 || c == 3 ? static_cast<float>(c + 1) : 0.0f; })});
    EXPECT_EQ(received.left, std::vector<float>(4, 3.0f));
    EXPECT_EQ(received.right, std::vector<float>(4, 4.0f));
    tap->refreshAutoSelection();

    // Peaks start over at each choice: pair 1 falls silent, pair 3 plays.
    EXPECT_EQ(choiceAfter(loudOn(8, 64, {7})), 3);

    // Below about -66 dBFS a pair counts as silent; the choice stays.
    EXPECT_EQ(choiceAfter(loudOn(8, 64, {0}, 0.0004f)), 3);
    EXPECT_EQ(choiceAfter(loudOn(8, 64, {1}, 0.0006f)), 0);
}

TEST_F(ProcessTapTest, AutoPeaksIgnoreBuffersMissingFromALaterCallback) {
    addPlayer({2, 2});
    auto tap = running(TapSource::automatic());
    sim->deliver({loudOn(2, 8, {}), loudOn(2, 8, {})});
    sim->deliver({loudOn(2, 8, {})});
    EXPECT_EQ(choiceOf(*tap, {loudOn(2, 8, {0}), loudOn(2, 8, {0})}), 0);
    EXPECT_EQ(choiceOf(*tap, {loudOn(2, 8, {}), loudOn(2, 8, {1})}), 1);
}

TEST_F(ProcessTapTest, BuffersThatDoNotMatchTheLayoutDeliverNothing) {
    addPlayer({2, 4});
    auto tap = running(TapSource::pair(2));
    sim->deliver({numbered(2, 8), numbered(4, 8)});
    ASSERT_EQ(tap->pairMap(), (std::vector<Pair>{{0, 0}, {1, 0}, {1, 2}}));
    ASSERT_EQ(received.calls, 1);

    Buffer tooShort = numbered(4, 8);
    tooShort.byteSize = 12;  // not one whole frame
    sim->deliver({numbered(2, 8), withoutData(numbered(4, 8))});
    sim->deliver({numbered(2, 8), tooShort});
    sim->deliver({numbered(2, 8), numbered(2, 8)});  // the pair lies beyond the buffer's channels
    sim->deliver({numbered(2, 8)});                  // the pair's buffer is missing
    sim->deliver({});
    EXPECT_EQ(received.calls, 1);
    EXPECT_EQ(tap->callbackCount(), 6);
}

TEST_F(ProcessTapTest, MixdownGainFollowsTheDeviceChannelCount) {
    struct Case {
        std::uint32_t channels;
        double scale;
        const char* gain;  // logged when not 1
    };
    std::int32_t pid = kPid;
    for (const Case& c : {Case{2, 1.0, ""}, Case{6, 3.0, "+9.54 dB voor 6"}, Case{8, 4.0, "+12.04 dB voor 8"},
                          Case{1, 1.0, ""}, Case{3, 1.5, "+3.52 dB voor 3"}}) {
        SCOPED_TRACE(c.channels);
        addPlayer({c.channels}, 0, ++pid);
        logs.clear();
        auto tap = running(TapSource::mixdown(), TapMode::tapOnly, pid);
        EXPECT_TRUE(tap->usingMixdown());
        EXPECT_DOUBLE_EQ(tap->mixdownScale(), c.scale);
        ASSERT_EQ(sim->taps().size(), 1u);
        EXPECT_EQ(sim->taps().front().description.kind, TapDescription::Kind::stereoMixdown);
        const std::string line = std::string("Crestline: mixdown corrigeert ") + c.gain + " kanalen";
        EXPECT_EQ(logs.lines(), *c.gain ? std::vector<std::string>{line} : std::vector<std::string>{});

        sim->deliver({interleaved(2, 16, [](int ch, int) { return ch == 0 ? 0.1f : -0.2f; })});
        EXPECT_FLOAT_EQ(received.left.at(0), 0.1f * static_cast<float>(c.scale));
        EXPECT_FLOAT_EQ(received.right.at(15), -0.2f * static_cast<float>(c.scale));
        EXPECT_TRUE(tap->pairMap().empty());
    }

    // A process without a device, and no default output, gets the mixdown of an assumed stereo device.
    sim->setDefaultOutputDevice(0);
    sim->addProcess(++pid, {});
    const auto tap = prepared(TapSource::automatic(), TapMode::tapOnly, pid);
    EXPECT_FALSE(tap->device());
    EXPECT_TRUE(tap->usingMixdown());
    EXPECT_DOUBLE_EQ(tap->mixdownScale(), 1.0);
    EXPECT_DOUBLE_EQ(tap->sampleRate(), 48000.0);
}

TEST_F(ProcessTapTest, MixdownOfMonoBuffersTakesTheRightFromTheNextBuffer) {
    addPlayer({1});
    auto tap = running(TapSource::mixdown());
    const Buffer fives = interleaved(1, 8, [](int, int) { return 5.0f; });
    sim->deliver({numbered(1, 8), fives});
    EXPECT_EQ(received.left, std::vector<float>(8, 1.0f));
    EXPECT_EQ(received.right, std::vector<float>(8, 5.0f));

    // A shorter right buffer limits the frames; a right buffer without data
    // leaves the left one for both.
    sim->deliver({numbered(1, 8), interleaved(1, 3, [](int, int) { return 5.0f; })});
    EXPECT_EQ(received.left.size(), 3u);
    sim->deliver({numbered(1, 8), withoutData(fives)});
    EXPECT_EQ(received.right, std::vector<float>(8, 1.0f));
    sim->deliver({numbered(1, 6)});
    EXPECT_EQ(received.right, std::vector<float>(6, 1.0f));
}

TEST_F(ProcessTapTest, FailedPerStreamTapsFallBackToTheMixdown) {
    addPlayer({2, 2, 8});
    sim->inject(Fault::failing(Call::createProcessTap, kAudioHardwareUnknownPropertyError).after(1));
    const auto tap = prepared();
    EXPECT_TRUE(tap->usingMixdown());
    ASSERT_EQ(sim->taps().size(), 1u);  // the stream-0 tap was destroyed again
    EXPECT_EQ(sim->taps().front().description.name, "Crestline mixdown");
    EXPECT_EQ(tap->tapIDs(), std::vector<AudioObjectID>{sim->taps().front().id});
    EXPECT_EQ(sim->aggregates().front().description.taps.size(), 1u);
    EXPECT_DOUBLE_EQ(tap->mixdownScale(), 1.0);
    EXPECT_EQ(logs.lines().front(),
              "Crestline: per-stream tap lukt niet (Tap op stream 1 aanmaken mislukt (OSStatus 2003332927)), "
              "terugval op mixdown");

    // A tap object of 0 fails just the same.
    sim->inject(Fault::empty(Call::createProcessTap));
    prepared();
    EXPECT_TRUE(logs.contains("(Tap op stream 0 aanmaken mislukt (OSStatus 0))"));
}

TEST_F(ProcessTapTest, RateComesFromTheTapThenTheAggregateThenTheDefaultAndUnusableOnesLeaveNothing) {
    sim->addProcess(kPid, {sim->addDevice("Interface", "uid", {2}, 96000.0)});
    sim->setTapSampleRate(44100.0);
    EXPECT_DOUBLE_EQ(prepared()->sampleRate(), 44100.0);
    const auto failing = [](AudioObjectPropertySelector selector) {
        return Fault::failing(Call::getPropertyData, kAudioHardwareUnspecifiedError).on(selector).always();
    };
    sim->inject(failing(kAudioTapPropertyFormat));
    EXPECT_DOUBLE_EQ(prepared()->sampleRate(), 44100.0);  // the aggregate's rate
    sim->inject(failing(kAudioDevicePropertyNominalSampleRate));
    EXPECT_DOUBLE_EQ(prepared()->sampleRate(), 48000.0);

    sim->clearFaults();
    for (const auto& [rate, text] : std::vector<std::pair<double, std::string>>{
             {INFINITY, "inf"}, {1e9, "1e+09"}, {4000.0, "4000.0"}, {768000.5, "768000.5"}}) {
        sim->setTapSampleRate(rate);
        EXPECT_EQ(failureOf([&] { prepared(); }), "Samplerate " + text + " Hz wordt niet ondersteund (OSStatus 0)");
        expectNothingLeft();
    }
    sim->setTapSampleRate(768000.0);
    EXPECT_DOUBLE_EQ(prepared()->sampleRate(), 768000.0);
}

TEST_F(ProcessTapTest, EveryFailingStepThrowsItsTextAndLeavesNothingBehind) {
    addPlayer({2});
    const auto automatic = TapSource::automatic();
    const std::vector<std::tuple<Fault, TapSource, std::string>> cases = {
        {Fault::empty(Call::getPropertyData).on(kAudioHardwarePropertyTranslatePIDToProcessObject), automatic,
         "Ableton heeft nog geen actief audioproces (OSStatus 0)"},
        {Fault::failing(Call::createProcessTap, kAudioHardwareBadObjectError), TapSource::mixdown(),
         "Process tap aanmaken mislukt (OSStatus 560947818)"},
        {Fault::failing(Call::createProcessTap, kAudioHardwareBadObjectError).repeated(2), automatic,
         "Process tap aanmaken mislukt (OSStatus 560947818)"},
        {Fault::failing(Call::createAggregateDevice, kAudioHardwareIllegalOperationError), automatic,
         "Aggregate device aanmaken mislukt (OSStatus 1852797029)"},
        {Fault::empty(Call::createAggregateDevice), automatic, "Aggregate device aanmaken mislukt (OSStatus 0)"},
        {Fault::failing(Call::createIOProcID, kAudioHardwareBadDeviceError), automatic,
         "Audio callback aanmaken mislukt (OSStatus 560227702)"},
        {Fault::empty(Call::createIOProcID), automatic, "Audio callback aanmaken mislukt (OSStatus 0)"},
        {Fault::failing(Call::startDevice, -50), automatic, "Audio starten mislukt (OSStatus -50)"},
    };
    for (const auto& [fault, source, description] : cases) {
        sim->clearFaults();
        sim->inject(fault);
        ProcessTap tap(kPid, TapMode::tapOnly, source);
        EXPECT_EQ(failureOf([&] {
                      tap.prepare();
                      tap.start(received.handler());
                  }),
                  description);
        expectNothingLeft();
        EXPECT_FALSE(tap.hasIOProc());
        EXPECT_EQ(tap.aggregateID(), 0u);
        EXPECT_TRUE(tap.tapIDs().empty());
    }
}

TEST_F(ProcessTapTest, StartingTwiceLeavesOneCallbackWithTheNewHandler) {
    addPlayer({2});
    auto tap = running(TapSource::automatic());
    Received second;
    tap->start(second.handler());
    EXPECT_EQ(sim->ioProcCount(), 1);
    EXPECT_EQ(sim->deliver({numbered(2, 8)}), 1);
    EXPECT_EQ(received.calls, 0);
    EXPECT_EQ(second.calls, 1);

    ProcessTap unprepared(kPid, TapMode::tapOnly, TapSource::automatic());
    EXPECT_EQ(failureOf([&] { unprepared.start(received.handler()); }),
              "Audio callback aanmaken mislukt (OSStatus 560227702)");
}

TEST_F(ProcessTapTest, ADeadStreamIsReportedAndStopTearsDownInReverseOrderOnce) {
    addPlayer({2, 2});
    auto tap = running(TapSource::automatic());
    sim->deliver({numbered(2, 8), numbered(2, 8)});
    EXPECT_FALSE(tap->streamFailed());
    EXPECT_EQ(sim->fail(kAudioHardwareNotRunningError, "Entity killed"), 1);
    EXPECT_TRUE(tap->streamFailed());
    EXPECT_TRUE(logs.contains("Crestline: audiostream gestopt (Entity killed, OSStatus 1937010544)"));
    EXPECT_EQ(sim->deliver({numbered(2, 8), numbered(2, 8)}), 0);
    EXPECT_EQ(received.calls, 1);

    const auto aggregate = std::to_string(tap->aggregateID());
    const auto first = std::to_string(tap->tapIDs()[0]);
    const auto second = std::to_string(tap->tapIDs()[1]);
    sim->clearJournal();
    tap->stop();
    EXPECT_EQ(sim->journal(), (std::vector<std::string>{"stopDevice " + aggregate, "destroyIOProcID " + aggregate,
                                                        "destroyAggregateDevice " + aggregate,
                                                        "destroyProcessTap " + first, "destroyProcessTap " + second}));
    expectNothingLeft();
    EXPECT_TRUE(tap->tapUIDs().empty());
    sim->clearJournal();
    tap->stop();
    EXPECT_TRUE(sim->journal().empty());

    running(TapSource::automatic()).reset();  // destroying a running tap stops it
    expectNothingLeft();
}

TEST_F(ProcessTapTest, StopWaitsForARunningCallbackAndNoneFollows) {
    addPlayer({2});
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
    sim->deliverAsync({numbered(2, 64)});
    while (!inside) std::this_thread::yield();

    sim->clearJournal();
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        tap->stop();
        stopped = true;
    });
    // Once stop has reached the service (or after a while, should it wait
    // elsewhere) it must still be waiting for the callback.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sim->journal().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_FALSE(stopped);
    release = true;
    stopper.join();
    EXPECT_FALSE(inside);
    EXPECT_EQ(calls, 1);
}

TEST_F(ProcessTapTest, StopRacingCallbacksIsClean) {
    addPlayer({8});
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
                sim->deliverAsync({numbered(8, 480 + round * 37)});
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
