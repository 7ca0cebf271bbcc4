// Capture, the engine and crestline-meter --capture against real sound
// servers that each test starts privately in this run's own XDG folders (the
// test main makes fresh ones) and stops by pid: PulseAudio, and PipeWire with
// its PulseAudio server (pipewire-pulse, WirePlumber and a D-Bus session bus
// of its own). Players play raw float32 tones to float32 null sinks ("test"
// in stereo, "octo" in eight channels), so levels come through unchanged.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "analysis/audio_engine.h"
#include "capture/process_tap.h"
#include "platform/log.h"
#include "platform/pulse_sound_server.h"
#include "tests/support/processes.h"

using namespace crestline;
using json = nlohmann::ordered_json;
using test::Child;
using test::eventually;
using test::readAll;

namespace {

constexpr int kRate = 48000;
constexpr const char* kOctoMap = "aux0,aux1,aux2,aux3,aux4,aux5,aux6,aux7";

enum class Server { pulseAudio, pipeWire };

void PrintTo(Server server, std::ostream* out) { *out << (server == Server::pulseAudio ? "PulseAudio" : "PipeWire"); }

// RMS of a sine in dBFS.
double sineDb(double amplitude) { return 20.0 * std::log10(amplitude / std::sqrt(2.0)); }

std::string folder(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? value : "/tmp";
}
std::string runtimeFolder() { return folder("XDG_RUNTIME_DIR"); }

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool pactl(const std::string& arguments) { return std::system(("pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0; }

// One private server with the sinks "test" (the default) and "octo". This
// process's clients find it through PULSE_SERVER and no desktop bus.
class PrivateServer {
public:
    explicit PrivateServer(Server kind) : kind_(kind) {
        setenv("PULSE_SERVER", ("unix:" + runtimeFolder() + "/pulse/native").c_str(), 1);
        if (kind_ == Server::pulseAudio) {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        } else {
            // WirePlumber exits at once without a session bus.
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtimeFolder() + "/bus").c_str(), 1);
        }
        start();
    }

    // Starts the server (again) in the same folders.
    void start() {
        if (kind_ == Server::pulseAudio) {
            const std::string sink = "--load=module-null-sink format=float32le rate=48000 ";
            daemon_ = Child({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
                             "--high-priority=no", "--disallow-exit", "--log-target=stderr",
                             sink + "sink_name=test channels=2",
                             sink + "sink_name=octo channels=8 channel_map=" + kOctoMap,
                             "--load=module-native-protocol-unix auth-anonymous=1"},
                            log_);
        } else {
            bus_ = Child({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                          "--address=" + folder("DBUS_SESSION_BUS_ADDRESS")},
                         log_);
            ready_ = eventually(5.0, [] { return access((runtimeFolder() + "/bus").c_str(), F_OK) == 0; });
            daemon_ = Child({"pipewire"}, log_);
            ready_ = ready_ && eventually(5.0, [] { return access((runtimeFolder() + "/pipewire-0").c_str(), F_OK) == 0; });
            startSessionManager();
            pulse_ = Child({"pipewire-pulse"}, log_);
        }
        ready_ = ready_ && eventually(10.0, [] { return pactl("info"); });
        if (ready_ && kind_ == Server::pipeWire) {
            const std::string sink = "load-module module-null-sink format=float32le rate=48000 ";
            ready_ = pactl(sink + "sink_name=test channels=2") &&
                     pactl(sink + "sink_name=octo channels=8 channel_map=" + kOctoMap);
        }
        ready_ = ready_ && eventually(10.0, [] { return pactl("set-default-sink test"); });
    }
    // Everything but the bus, so the folder can serve again.
    void stop() {
        pulse_.stop();
        sessionManager_.stop();
        daemon_.stop(SIGKILL);
    }
    void startSessionManager() { sessionManager_ = Child({"wireplumber"}, log_); }
    void stopSessionManager() { sessionManager_.stop(SIGKILL); }
    // The process that answers PulseAudio clients.
    const Child& pulseServer() const { return kind_ == Server::pulseAudio ? daemon_ : pulse_; }

    bool ready() const { return ready_; }
    std::string log() const { return readAll(log_); }

private:
    Server kind_;
    std::string log_ = runtimeFolder() + "/server.log";
    bool ready_ = true;
    Child bus_;
    Child daemon_;
    Child sessionManager_;
    Child pulse_;
};

// Twenty seconds of 1 kHz at 48 kHz in float32 of amplitude(channel), the
// first `silentSeconds` of them zeros: raw for paplay, or a WAV file for pw-play.
std::string tone(const std::string& name, int channels, const std::function<double(int)>& amplitude,
                 bool wav = false, int silentSeconds = 0) {
    std::vector<float> samples;
    for (int f = 0; f < 20 * kRate; ++f) {
        for (int c = 0; c < channels; ++c) {
            const double gain = f < silentSeconds * kRate ? 0.0 : amplitude(c);
            samples.push_back(static_cast<float>(gain * std::sin(2.0 * M_PI * 1000.0 * f / kRate)));
        }
    }
    const std::string path = runtimeFolder() + "/" + name;
    std::ofstream file(path, std::ios::binary);
    const auto put = [&](std::uint32_t value, int bytes) { file.write(reinterpret_cast<const char*>(&value), bytes); };
    if (wav) {
        const auto data = static_cast<std::uint32_t>(samples.size() * 4);
        const auto frameBytes = static_cast<std::uint32_t>(4 * channels);
        file << "RIFF";
        put(36 + data, 4);
        file << "WAVEfmt ";
        put(16, 4), put(3, 2), put(static_cast<std::uint32_t>(channels), 2), put(kRate, 4);
        put(kRate * frameBytes, 4), put(frameBytes, 2), put(32, 2);
        file << "data";
        put(data, 4);
    }
    file.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
    return path;
}

std::string minus23Tone() {
    return tone("minus23.raw", 2, [](int) { return std::pow(10.0, -23.0 / 20.0); });
}

std::string sideTone(const std::string& name, int side) {
    return tone(name, 2, [side](int c) { return c == side ? 0.25 : 0.0; });
}

// paplay of a tone. Its buffer is short enough for the monitor to see the
// sound soon (the default is two seconds) and long enough not to run dry on
// a busy machine.
Child play(const std::string& file, int channels = 2, const std::string& sink = "test",
           const std::string& channelMap = "") {
    std::vector<std::string> argv = {"paplay", "--raw", "--format=float32le", "--rate=48000",
                                     "--channels=" + std::to_string(channels), "-d", sink, "--latency-msec=300"};
    if (!channelMap.empty()) argv.push_back("--channel-map=" + channelMap);
    argv.push_back(file);
    return Child(argv);
}

// Whether the server lists a stream of the player on `sink` within ten
// seconds (PipeWire's session manager may place a new stream a moment later).
bool playing(const Child& player, const std::string& sink = "test") {
    return eventually(10.0, [&] {
        try {
            const auto device = ProcessTap::currentDevice(ProcessTap::sinkInputOf(player.pid()), false);
            return device && device->uid == sink;
        } catch (const CoreAudioError&) {
            return false;
        }
    });
}

// Level per channel of the sound the tap delivers after its first 25 blocks
// (a player's stream starts only once its buffer is full, later still on a
// busy machine): the median of the blocks' mean squares, so that a block the
// player left empty (the server fills it with silence) cannot pull it down.
class LevelMeter {
public:
    ProcessTap::Handler handler() {
        return [this](const float* left, const float* right, int frames) {
            double sums[2] = {0.0, 0.0};
            bool sound = false;
            for (int i = 0; i < frames; ++i) {
                sums[0] += static_cast<double>(left[i]) * left[i];
                sums[1] += static_cast<double>(right[i]) * right[i];
                sound = sound || std::fabs(left[i]) > 0.01f || std::fabs(right[i]) > 0.01f;
            }
            std::scoped_lock lock(mutex_);
            if (!sound || ++soundBlocks_ <= 25) return;
            for (int c : {0, 1}) blocks_[c].push_back(sums[c] / frames);
            frames_ += frames;
        };
    }
    // Waits for one second of measured sound.
    bool measure() const {
        return eventually(20.0, [this] {
            std::scoped_lock lock(mutex_);
            return frames_ >= kRate;
        });
    }
    // RMS of channel 0 (left) or 1 in dBFS; -200 for digital silence.
    double db(int channel) const {
        std::scoped_lock lock(mutex_);
        std::vector<double> sorted = blocks_[channel];
        if (sorted.empty()) return -200.0;
        const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
        std::nth_element(sorted.begin(), middle, sorted.end());
        return *middle > 0.0 ? 10.0 * std::log10(*middle) : -200.0;
    }

private:
    mutable std::mutex mutex_;
    std::vector<double> blocks_[2];
    std::int64_t frames_ = 0;
    int soundBlocks_ = 0;
};

struct ToolRun {
    int exitCode = -1;
    std::vector<std::string> lines;  // stdout
    std::string errors;              // stderr
};

// crestline-meter with `arguments`, from the build's bin folder (the test main always names it).
ToolRun meter(const std::string& arguments) {
    const std::string out = runtimeFolder() + "/out";
    const std::string err = runtimeFolder() + "/err";
    const int status = std::system(("'" + folder("CRESTLINE_BIN_DIR") + "/crestline-meter' " + arguments + " >'" + out +
                                    "' 2>'" + err + "' </dev/null")
                                       .c_str());
    ToolRun result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}, readAll(err)};
    std::ifstream lines(out);
    for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
    return result;
}

bool installed(Server kind) {
    if (kind == Server::pulseAudio) return test::installed("pulseaudio") && test::installed("paplay");
    return test::installed("pipewire") && test::installed("pipewire-pulse") && test::installed("wireplumber") &&
           test::installed("dbus-daemon") && test::installed("pw-play");
}

class Capture : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        CRESTLINE_REQUIRE_COMPONENT(installed(GetParam()),
                                    GetParam() == Server::pulseAudio ? "PulseAudio" : "PipeWire");
        server_.emplace(GetParam());
        ASSERT_TRUE(server_->ready()) << server_->log();
    }

    // A started tap whose meter holds one second of sound.
    std::unique_ptr<ProcessTap> measure(std::int32_t pid, TapSource source, LevelMeter& meter) {
        auto tap = std::make_unique<ProcessTap>(pid, TapMode::tapOnly, source);
        tap->prepare();
        tap->start(meter.handler());
        EXPECT_TRUE(meter.measure());
        return tap;
    }

    PrivateServer& server() { return *server_; }

    std::optional<PrivateServer> server_;
    ScopedSoundServer scoped{std::make_shared<PulseSoundServer>()};
    LogCapture logs;
};

// Only one of the kinds.
class PulseAudioCapture : public Capture {};
class PipeWireCapture : public Capture {};

std::string serverName(const ::testing::TestParamInfo<Server>& info) {
    return info.param == Server::pulseAudio ? "PulseAudio" : "PipeWire";
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Servers, Capture, ::testing::Values(Server::pulseAudio, Server::pipeWire), serverName);
INSTANTIATE_TEST_SUITE_P(Server, PulseAudioCapture, ::testing::Values(Server::pulseAudio), serverName);
INSTANTIATE_TEST_SUITE_P(Server, PipeWireCapture, ::testing::Values(Server::pipeWire), serverName);

// A tap of one player leaves the other out, all sound has both; eight
// channels give a pair unmixed or the mixdown after its gain.
TEST_P(Capture, TapsHearTheirPlayerAllSoundOrAPairOfEightChannels) {
    const Child left = play(sideTone("left.raw", 0));
    const Child right = play(sideTone("right.raw", 1));
    ASSERT_TRUE(playing(left) && playing(right));
    LevelMeter one;
    auto tap = measure(left.pid(), TapSource::automatic(), one);
    EXPECT_NEAR(one.db(0), sineDb(0.25), 0.05);
    EXPECT_LT(one.db(1), -70.0);
    EXPECT_FALSE(tap->usingMixdown());
    EXPECT_DOUBLE_EQ(tap->sampleRate(), 48000.0);
    ASSERT_TRUE(tap->device());
    EXPECT_EQ(tap->device()->uid, "test");
    EXPECT_EQ(tap->device()->channels, 2);
    EXPECT_TRUE(logs.contains("Crestline: 1 buffers [2ch/"));
    EXPECT_TRUE(logs.contains("b], skip 0, mode tapOnly, per stream, 1 paren, 48000.0 Hz"));
    tap.reset();

    for (const auto source : {TapSource::automatic(), TapSource::mixdown()}) {
        LevelMeter all;
        tap = measure(0, source, all);
        EXPECT_FALSE(tap->sinkInput());
        EXPECT_EQ(tap->usingMixdown(), source == TapSource::mixdown());
        EXPECT_NEAR(all.db(0), sineDb(0.25), 0.05);
        EXPECT_NEAR(all.db(1), sineDb(0.25), 0.05);
        tap.reset();  // its callback writes into `all`, which ends here
    }

    // Eight channels: a pair unmixed, and the mixdown after its gain.
    const Child player = play(tone("graded.raw", 8, [](int c) { return (c + 1) / 16.0; }), 8, "octo", kOctoMap);
    ASSERT_TRUE(playing(player, "octo"));
    LevelMeter meter;
    tap = measure(player.pid(), TapSource::pair(2), meter);
    ASSERT_EQ(tap->pairMap().size(), 4u);
    EXPECT_EQ(tap->pairMap()[2], (ProcessTap::Pair{0, 4}));
    EXPECT_NEAR(meter.db(0), sineDb(5 / 16.0), 0.05);
    EXPECT_NEAR(meter.db(1), sineDb(6 / 16.0), 0.05);

    LevelMeter mixed;
    auto mixdown = measure(player.pid(), TapSource::mixdown(), mixed);
    EXPECT_DOUBLE_EQ(mixdown->mixdownScale(), 4.0);
    EXPECT_TRUE(logs.contains("Crestline: mixdown corrigeert +12.04 dB voor 8 kanalen"));
    // In phase: left = (1 + 3 + 5 + 7) / 16, right = (2 + 4 + 6 + 8) / 16.
    EXPECT_NEAR(mixed.db(0), sineDb(1.0), 0.05);
    EXPECT_NEAR(mixed.db(1), sineDb(1.25), 0.05);
    tap.reset();
}

// Through digital silence the server delivers in long fragments, and in
// short ones again from the first sound, without losing any of it.
TEST_P(Capture, SilenceLengthensTheFragmentsUntilTheFirstSound) {
    struct Delivery {
        double at;
        int frames;
        bool sound;
    };
    std::mutex mutex;
    std::vector<Delivery> deliveries;
    const auto start = std::chrono::steady_clock::now();
    RecordingCallbacks callbacks;
    callbacks.onFrames = [&](const float* samples, int frames, int channels) {
        const bool sound = std::any_of(samples, samples + frames * channels, [](float v) { return std::fabs(v) > 0.01f; });
        std::scoped_lock lock(mutex);
        deliveries.push_back({secondsSince(start), frames, sound});
    };
    auto recording = soundServer()->record(soundServer()->sink("test", deadlineIn(2.0)), std::nullopt, callbacks,
                                           deadlineIn(2.0));
    const Child player = play(tone("late.raw", 2, [](int) { return 0.25; }, false, 7));
    const auto soundFor = [&](double seconds) {
        std::scoped_lock lock(mutex);
        const auto first = std::find_if(deliveries.begin(), deliveries.end(), [](const Delivery& d) { return d.sound; });
        return first != deliveries.end() && deliveries.back().at - first->at >= seconds;
    };
    ASSERT_TRUE(eventually(20.0, [&] { return soundFor(1.5); }));
    recording.reset();

    int longestQuiet = 0;
    int longestLoud = 0;
    double firstSound = -1.0;
    for (const Delivery& d : deliveries) {
        if (firstSound < 0.0 && d.sound) firstSound = d.at;
        if (firstSound < 0.0) longestQuiet = std::max(longestQuiet, d.frames);
        if (firstSound >= 0.0 && d.at > firstSound + 0.5) longestLoud = std::max(longestLoud, d.frames);
    }
    EXPECT_GE(longestQuiet, kRate / 20);  // 50 ms or more
    EXPECT_GT(longestLoud, 0);
    EXPECT_LE(longestLoud, kRate * 3 / 100);  // 30 ms at most
}

// The tool meters one process or all sound and prints the file JSON with
// its source; a player quitting ends the run with what was metered, and a
// pid without sound or no server fails in one line with status 2.
TEST_P(Capture, ToolMetersAProcessOrAllSoundAndEndsWhenThePlayerOrTheServerGoes) {
    ToolRun run = meter("--capture --pid " + std::to_string(getpid()) + " --seconds 1");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.errors, "crestline-meter: Ableton heeft nog geen actief audioproces (OSStatus 0)\n");

    Child player = play(minus23Tone());
    ASSERT_TRUE(playing(player));
    const std::string pid = std::to_string(player.pid());
    run = meter("--capture --pid " + pid + " --seconds 3 --every 1");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_GE(run.lines.size(), 2u);
    const json periodic = json::parse(run.lines.front());
    EXPECT_FALSE(periodic.contains("source"));
    // Emitted at the first poll after one second of audio.
    EXPECT_GE(periodic["t"].get<double>(), 1.0);
    EXPECT_LT(periodic["t"].get<double>(), 1.5);
    json last = json::parse(run.lines.back());
    EXPECT_EQ(last.begin().key(), "source");
    EXPECT_EQ(last["source"], "pid:" + pid);
    EXPECT_EQ(last["sampleRate"], 48000);
    EXPECT_GT(last["frames"].get<long long>(), 2 * 48000);
    EXPECT_NEAR(last["integrated"].get<double>(), -23.0, 0.2);
    EXPECT_NEAR(last["momentary"].get<double>(), -23.0, 0.2);
    EXPECT_NEAR(last["samplePeak"][0].get<double>(), -23.0, 0.1);
    // A dropout in the player's own stream (the server falling behind on a
    // busy machine) puts a step into the sine, and a step rings between
    // samples: the true peak may then stand a dB or two over the sine's.
    // Its exact figure is the conformance tests' matter; here it must at
    // least be the sample peak's and come from this tone.
    EXPECT_GE(last["truePeak"].get<double>(), last["samplePeak"][0].get<double>() - 0.05);
    EXPECT_LT(last["truePeak"].get<double>(), -20.0);

    run = meter("--capture --seconds 2");  // no pid: all sound
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_EQ(run.lines.size(), 1u);
    last = json::parse(run.lines.back());
    EXPECT_EQ(last["source"], "all");
    EXPECT_GT(last["frames"].get<long long>(), 48000);
    EXPECT_NEAR(last["momentary"].get<double>(), -23.0, 0.2);

    // The player quits: the tap stops and the tool ends with what it metered.
    ProcessTap tap(player.pid(), TapMode::tapOnly, TapSource::automatic());
    tap.prepare();
    tap.start([](const float*, const float*, int) {});
    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::seconds(4));  // past an idle sink's first wake-up
        EXPECT_GT(tap.callbackCount(), 0);
        EXPECT_FALSE(tap.streamFailed());
        player.stop();
    });
    run = meter("--capture --pid " + pid + " --seconds 20");
    quitter.join();
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_NEAR(json::parse(run.lines.back())["maxMomentary"].get<double>(), -23.0, 0.2);
    EXPECT_NE(run.errors.find("crestline-meter: pid:" + pid + ": the sound stopped after"), std::string::npos)
        << run.errors;
    ASSERT_TRUE(eventually(5.0, [&] { return tap.streamFailed(); }));
    EXPECT_EQ(tap.failure(), RecordingEnd::streamGone);
    EXPECT_TRUE(logs.contains("Crestline: audiostream gestopt ("));
    const auto count = tap.callbackCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(tap.callbackCount(), count);

    server().stop();
    try {
        ProcessTap::sinkInputOf(1234);
        ADD_FAILURE() << "no failure";
    } catch (const CoreAudioError& error) {
        EXPECT_EQ(error.description(), "Ableton heeft nog geen actief audioproces (OSStatus 1937010544)");
    }
    EXPECT_THROW(ProcessTap(0, TapMode::tapOnly, TapSource::automatic()).prepare(), CoreAudioError);
    EXPECT_EQ(logs.count("Crestline: geluidsserver niet bereikbaar ("), 1);
    run = meter("--capture --seconds 1");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.errors, "crestline-meter: Process tap aanmaken mislukt (OSStatus 1937010544)\n");
}

// A server that stops answering fails an attach within two seconds and never
// holds the main thread; one killed mid-capture is reported, and a new attach
// after its restart meters.
TEST_P(PulseAudioCapture, AStalledOrKilledServerIsReportedAndMeteringResumesAfterItsRestart) {
    {
        AudioEngine engine;
        engine.attach(0, TapMode::tapOnly, TapSource::automatic());
        ASSERT_TRUE(eventually(10.0, [&] { return engine.tap()->callbackCount() > 0; }));
        server().pulseServer().signal(SIGSTOP);

        // What the main thread calls returns at once.
        double slowest = 0.0;
        const auto timed = [&](const std::function<void()>& call) {
            const auto start = std::chrono::steady_clock::now();
            call();
            slowest = std::max(slowest, secondsSince(start));
        };
        timed([&] { engine.beginAttach(0, TapMode::tapOnly, TapSource::automatic()); });
        timed([&] { EXPECT_FALSE(engine.finishAttach()); });
        timed([&] { engine.liveSampleRate(); });
        timed([&] { engine.hasLiveTap(); });
        timed([&] { engine.tap()->refreshAutoSelection(); });
        EXPECT_LT(slowest, 0.1);

        // The worker's attempt fails within its two seconds; each look costs nothing.
        const auto start = std::chrono::steady_clock::now();
        std::string failure;
        ASSERT_TRUE(eventually(5.0, [&] {
            bool done = false;
            timed([&] {
                try {
                    done = engine.finishAttach();
                } catch (const CoreAudioError& error) {
                    failure = error.description();
                    done = true;
                }
            });
            return done;
        }));
        EXPECT_EQ(failure, "Process tap aanmaken mislukt (OSStatus 1937010544)");
        EXPECT_LT(secondsSince(start), 2.5);
        EXPECT_LT(slowest, 0.1);
        EXPECT_FALSE(engine.tap());

        // A blocking attach gives up within the same bound.
        const auto direct = std::chrono::steady_clock::now();
        EXPECT_THROW(engine.attach(0, TapMode::tapOnly, TapSource::automatic()), CoreAudioError);
        EXPECT_LT(secondsSince(direct), 2.5);
        server().pulseServer().signal(SIGCONT);
    }

    // Killed mid-capture: reported, and a new attach after its restart meters.
    {
        AudioEngine engine;
        auto player = std::make_unique<Child>(play(minus23Tone()));
        ASSERT_TRUE(playing(*player));
        engine.attach(player->pid(), TapMode::tapOnly, TapSource::automatic());
        ASSERT_TRUE(eventually(10.0, [&] { return engine.tap()->callbackCount() > 10; }));

        server().stop();
        ASSERT_TRUE(eventually(5.0, [&] { return !engine.hasLiveTap(); }));
        EXPECT_EQ(engine.tap()->failure(), RecordingEnd::serverGone);
        player.reset();

        server().start();
        ASSERT_TRUE(server().ready()) << server().log();
        player = std::make_unique<Child>(play(minus23Tone()));
        ASSERT_TRUE(playing(*player));
        engine.attach(player->pid(), TapMode::tapOnly, TapSource::automatic());
        EXPECT_TRUE(engine.hasLiveTap());
        ASSERT_TRUE(eventually(10.0, [&] { return engine.meter().reading().momentary > -24.0; }));
        EXPECT_NEAR(engine.meter().reading().momentary, -23.0, 0.3);

        // The tool sees the server go and says so, after what it measured.
        std::thread killer([&] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            server().stop();
        });
        const ToolRun run = meter("--capture --seconds 20");
        killer.join();
        EXPECT_EQ(run.exitCode, 2);
        ASSERT_EQ(run.lines.size(), 1u);
        EXPECT_NEAR(json::parse(run.lines.back())["maxMomentary"].get<double>(), -23.0, 0.3);
        EXPECT_NE(run.errors.find("crestline-meter: all: the sound server went away after"), std::string::npos)
            << run.errors;
    }
}

// A native player is found through its client; a session manager that dies
// stalls the recording and the tool says so.
TEST_P(PipeWireCapture, ANativePlayerIsFoundAndADyingSessionManagerStallsTheRecording) {
    {
        const Child player({"pw-play", "--target", "test", tone("minus23.wav", 2,
                                                                [](int) { return std::pow(10.0, -23.0 / 20.0); }, true)});
        ASSERT_TRUE(playing(player));
        LevelMeter meter;
        auto tap = measure(player.pid(), TapSource::automatic(), meter);
        EXPECT_NEAR(meter.db(0), -23.0 - 3.01, 0.1);
        EXPECT_NEAR(meter.db(1), -23.0 - 3.01, 0.1);
    }
    const Child player = play(minus23Tone());
    ASSERT_TRUE(playing(player));
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        server().stopSessionManager();
    });
    const ToolRun run = meter("--capture --pid " + std::to_string(player.pid()) + " --seconds 20");
    killer.join();
    EXPECT_EQ(run.exitCode, 2);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_NEAR(json::parse(run.lines.back())["maxMomentary"].get<double>(), -23.0, 0.3);
    EXPECT_NE(run.errors.find("the recording stalled after"), std::string::npos) << run.errors;
}
