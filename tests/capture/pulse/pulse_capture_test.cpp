// Capture, engine and crestline-meter --capture against a private PulseAudio
// server that each test starts in this run's own XDG_RUNTIME_DIR (the test
// main makes a fresh one) and stops by its pid. paplay players play raw
// float32 tones to a float32 null sink, so levels come through unchanged.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "analysis/audio_engine.h"
#include "capture/process_tap.h"
#include "platform/log.h"
#include "platform/pulse_audio_service.h"
#include "settings/settings.h"

extern char** environ;

using namespace crestline;
using json = nlohmann::ordered_json;

namespace {

constexpr int kRate = 48000;
constexpr double kQuarterSineDb = -15.05;  // RMS of a sine of amplitude 0.25

std::string runtimeFolder() {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    return folder ? folder : "/tmp";
}

std::string readAll(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Starts `argv` with stdout and stderr into `logPath`; 0 when it cannot be started.
pid_t spawn(const std::vector<std::string>& argv, const std::string& logPath = "/dev/null") {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : 0;
}

// Polls `done` every 10 ms for at most `seconds` of real time.
bool eventually(double seconds, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Ends a child we started: SIGTERM, then SIGKILL after two seconds.
void endProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (!eventually(2.0, [&] { return waitpid(pid, nullptr, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// Runs a command to its end; its exit status, -1 when it did not run.
int runToEnd(const std::vector<std::string>& argv) {
    const pid_t pid = spawn(argv);
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Twenty seconds of 1 kHz, raw float32 at 48 kHz, of amplitude(channel).
std::string tone(const std::string& name, int channels, const std::function<double(int)>& amplitude) {
    std::vector<float> samples;
    for (int f = 0; f < 20 * kRate; ++f) {
        for (int c = 0; c < channels; ++c) {
            samples.push_back(static_cast<float>(amplitude(c) * std::sin(2.0 * M_PI * 1000.0 * f / kRate)));
        }
    }
    const std::string path = runtimeFolder() + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
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
class Player {
public:
    explicit Player(const std::string& file, int channels = 2, const std::string& sink = "test",
                    const std::string& channelMap = "") {
        std::vector<std::string> argv = {"paplay", "--raw", "--format=float32le", "--rate=48000",
                                         "--channels=" + std::to_string(channels), "-d", sink, "--latency-msec=300"};
        if (!channelMap.empty()) argv.push_back("--channel-map=" + channelMap);
        argv.push_back(file);
        pid_ = spawn(argv);
    }
    ~Player() { endProcess(pid_); }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    pid_t pid() const { return pid_; }
    void quit() {
        endProcess(pid_);
        pid_ = 0;
    }
    // Whether the server lists the stream within ten seconds.
    bool playing() const {
        const std::string match = "application.process.id = \"" + std::to_string(pid_) + "\"";
        return eventually(10.0, [&] { return runToEnd({"sh", "-c", "pactl list sink-inputs | grep -q '" + match + "'"}) == 0; });
    }

private:
    pid_t pid_ = 0;
};

class PulseServer {
public:
    // One float32 null sink, the default, with the arguments of module-null-sink.
    explicit PulseServer(const std::string& sink) {
        // Only this server: neither a desktop's server nor its bus.
        setenv("PULSE_SERVER", ("unix:" + runtimeFolder() + "/pulse/native").c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        pid_ = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
                      "--high-priority=no", "--disallow-exit", "--log-target=stderr",
                      "--load=module-null-sink " + sink, "--load=module-native-protocol-unix auth-anonymous=1"},
                     log_);
        ready_ = pid_ > 0 && eventually(10.0, [] { return runToEnd({"pactl", "info"}) == 0; });
    }
    ~PulseServer() { stop(); }

    bool ready() const { return ready_; }
    std::string log() const { return readAll(log_); }
    void stop() {
        endProcess(pid_);
        pid_ = 0;
    }

private:
    const std::string log_ = runtimeFolder() + "/pulseaudio.log";
    pid_t pid_ = 0;
    bool ready_ = false;
};

// Level per channel of what the tap delivers while measuring: the median of
// the blocks' mean squares, so that a block the player left empty on a busy
// machine (the server fills it with silence) cannot pull the level down.
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
            if (!sound) return;
            soundBlocks_ += 1;
            if (!measuring_) return;
            for (int c : {0, 1}) blocks_[c].push_back(sums[c] / frames);
            frames_ += frames;
        };
    }
    // Skips a quarter second of sound (a player's stream starts only once its
    // buffer is full, later still on a busy machine), then measures one second.
    bool measure() {
        if (!eventually(10.0, [this] { return read(soundBlocks_) >= 25; })) return false;
        {
            std::scoped_lock lock(mutex_);
            measuring_ = true;
        }
        return eventually(10.0, [this] { return read(frames_) >= kRate; });
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
    std::int64_t read(const std::int64_t& counter) const {
        std::scoped_lock lock(mutex_);
        return counter;
    }

    mutable std::mutex mutex_;
    bool measuring_ = false;
    std::vector<double> blocks_[2];
    std::int64_t frames_ = 0;
    std::int64_t soundBlocks_ = 0;
};

std::string failureOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const CoreAudioError& error) {
        return error.description();
    }
    return "no failure";
}

class PulseCapture : public ::testing::Test {
protected:
    explicit PulseCapture(const std::string& sink = "sink_name=test format=float32le rate=48000 channels=2")
        : server(sink) {}
    void SetUp() override { ASSERT_TRUE(server.ready()) << server.log(); }

    // A started tap whose meter holds one second of sound.
    std::unique_ptr<ProcessTap> measure(std::int32_t pid, TapSource source, LevelMeter& meter) {
        auto tap = std::make_unique<ProcessTap>(pid, TapMode::tapOnly, source);
        tap->prepare();
        tap->start(meter.handler());
        EXPECT_TRUE(meter.measure());
        return tap;
    }

    PulseServer server;
    ScopedAudioService scoped{std::make_shared<PulseAudioService>()};
    LogCapture logs;
};

class PulseEightChannels : public PulseCapture {
protected:
    static constexpr const char* kMap = "aux0,aux1,aux2,aux3,aux4,aux5,aux6,aux7";
    PulseEightChannels()
        : PulseCapture(std::string("sink_name=octo format=float32le rate=48000 channels=8 channel_map=") + kMap) {}
    static double sineDb(double amplitude) { return 20.0 * std::log10(amplitude / std::sqrt(2.0)); }
};

class PulseEngine : public PulseCapture {
protected:
    PulseEngine() { Settings::setSharedForTesting(&settings); }
    ~PulseEngine() override { Settings::setSharedForTesting(nullptr); }

    Settings settings{std::filesystem::path(runtimeFolder()) / "settings.json", systemClock(), Settings::Writing::manual};
};

struct ToolRun {
    int exitCode = -1;
    std::vector<std::string> lines;  // stdout
    std::string errors;              // stderr
};

class PulseMeterTool : public PulseCapture {
protected:
    static ToolRun meter(const std::string& arguments) {
        const char* bin = std::getenv("CRESTLINE_BIN_DIR");
        const std::string out = runtimeFolder() + "/out";
        const std::string err = runtimeFolder() + "/err";
        const int status = std::system(("'" + std::string(bin ? bin : ".") + "/crestline-meter' " + arguments + " >'" +
                                        out + "' 2>'" + err + "' </dev/null")
                                           .c_str());
        ToolRun result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}, readAll(err)};
        std::ifstream lines(out);
        for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
        return result;
    }
};

}  // namespace

TEST_F(PulseCapture, TapOfOnePlayerLeavesTheOtherOut) {
    Player left(sideTone("left.raw", 0));
    Player right(sideTone("right.raw", 1));
    ASSERT_TRUE(left.playing() && right.playing());
    LevelMeter meter;
    auto tap = measure(left.pid(), TapSource::automatic(), meter);
    EXPECT_NEAR(meter.db(0), kQuarterSineDb, 0.05);
    EXPECT_LT(meter.db(1), -70.0);
    EXPECT_FALSE(tap->usingMixdown());
    EXPECT_DOUBLE_EQ(tap->sampleRate(), 48000.0);
    ASSERT_TRUE(tap->device());
    EXPECT_EQ(tap->device()->uid, "test");
    EXPECT_EQ(tap->device()->streamChannels, std::vector<int>{2});
    EXPECT_TRUE(logs.contains("Crestline: 1 buffers [2ch/"));
    EXPECT_TRUE(logs.contains("b], skip 0, mode tapOnly, per stream, 1 paren, 48000.0 Hz"));
}

TEST_F(PulseCapture, AllSoundCapturesEveryPlayer) {
    Player left(sideTone("left.raw", 0));
    Player right(sideTone("right.raw", 1));
    ASSERT_TRUE(left.playing() && right.playing());
    LevelMeter meter;
    auto tap = measure(0, TapSource::automatic(), meter);
    EXPECT_EQ(tap->processObjectID(), 0u);
    EXPECT_NEAR(meter.db(0), kQuarterSineDb, 0.05);
    EXPECT_NEAR(meter.db(1), kQuarterSineDb, 0.05);

    LevelMeter mixed;
    auto mixdown = measure(0, TapSource::mixdown(), mixed);
    EXPECT_TRUE(mixdown->usingMixdown());
    EXPECT_NEAR(mixed.db(0), kQuarterSineDb, 0.05);
    EXPECT_NEAR(mixed.db(1), kQuarterSineDb, 0.05);
}

TEST_F(PulseCapture, PlayerQuittingStopsTheTapAndIsReported) {
    Player player(sideTone("left.raw", 0));
    ASSERT_TRUE(player.playing());
    LevelMeter meter;
    auto tap = measure(player.pid(), TapSource::automatic(), meter);
    EXPECT_FALSE(tap->streamFailed());
    player.quit();
    ASSERT_TRUE(eventually(5.0, [&] { return tap->streamFailed(); }));
    EXPECT_TRUE(logs.contains("Crestline: audiostream gestopt ("));
    const auto count = tap->callbackCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(tap->callbackCount(), count);
}

TEST_F(PulseCapture, PidWithoutSoundFailsWithTheProcessText) {
    ProcessTap tap(getpid(), TapMode::tapOnly, TapSource::automatic());
    EXPECT_EQ(failureOf([&] { tap.prepare(); }), "Ableton heeft nog geen actief audioproces (OSStatus 0)");
}

TEST_F(PulseCapture, WithoutAServerEveryReadFailsAsNotRunningAndIsLoggedOnce) {
    server.stop();
    EXPECT_EQ(failureOf([] { CA::processObject(1234); }),
              "Ableton heeft nog geen actief audioproces (OSStatus 1937010544)");
    ProcessTap tap(0, TapMode::tapOnly, TapSource::automatic());
    EXPECT_NE(failureOf([&] { tap.prepare(); }), "no failure");
    EXPECT_EQ(logs.count("Crestline: geluidsserver niet bereikbaar ("), 1);
}

TEST_F(PulseEightChannels, DeliversAPairUnmixedAndTheMixdownAfterItsGain) {
    Player player(tone("graded.raw", 8, [](int c) { return (c + 1) / 16.0; }), 8, "octo", kMap);
    ASSERT_TRUE(player.playing());
    LevelMeter meter;
    auto tap = measure(player.pid(), TapSource::pair(2), meter);
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
}

TEST_F(PulseEngine, SineAtMinus23dBFSReadsMinus23LufsIntegrated) {
    // EBU Tech 3341 case 1: 1 kHz at -23 dBFS on both channels reads -23 LUFS.
    Player player(minus23Tone());
    ASSERT_TRUE(player.playing());
    AudioEngine engine;
    engine.attach(player.pid(), TapMode::tapOnly, TapSource::automatic());
    EXPECT_DOUBLE_EQ(engine.tap()->sampleRate(), 48000.0);
    EXPECT_EQ(engine.liveSampleRate(), 48000.0);

    // Past the player's first buffer, then four seconds of steady tone.
    EXPECT_TRUE(eventually(5.0, [&] { return engine.scope().totalFrames() >= 48000; }));
    engine.resetMeter();
    const auto start = engine.scope().totalFrames();
    EXPECT_TRUE(eventually(10.0, [&] { return engine.scope().totalFrames() >= start + 4 * 48000; }));
    const auto reading = engine.meter().reading();
    EXPECT_NEAR(reading.integrated, -23.0, 0.2);
    EXPECT_NEAR(reading.shortTerm, -23.0, 0.2);
    EXPECT_NEAR(reading.momentary, -23.0, 0.2);
    EXPECT_NEAR(reading.truePeak, -23.0, 0.2);
    EXPECT_NEAR(engine.peaks().take().left, -23.0, 0.1);
    EXPECT_FALSE(engine.tap()->streamFailed());
}

TEST_F(PulseMeterTool, MetersOneProcessOrAllSoundAndPrintsTheFileJsonWithItsSource) {
    Player player(minus23Tone());
    ASSERT_TRUE(player.playing());
    const std::string pid = std::to_string(player.pid());
    ToolRun run = meter("--capture --pid " + pid + " --seconds 3 --every 1");
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
    EXPECT_NEAR(last["truePeak"].get<double>(), -23.0, 0.2);

    run = meter("--capture --seconds 2");  // no pid: all sound
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_EQ(run.lines.size(), 1u);
    last = json::parse(run.lines.back());
    EXPECT_EQ(last["source"], "all");
    EXPECT_GT(last["frames"].get<long long>(), 48000);
    EXPECT_NEAR(last["momentary"].get<double>(), -23.0, 0.2);
}

TEST_F(PulseMeterTool, APidWithoutSoundOrNoServerIsOneLineAndStatusTwo) {
    ToolRun run = meter("--capture --pid " + std::to_string(getpid()) + " --seconds 1");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.errors, "crestline-meter: Ableton heeft nog geen actief audioproces (OSStatus 0)\n");

    server.stop();
    run = meter("--capture --seconds 1");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.errors, "crestline-meter: Process tap aanmaken mislukt (OSStatus 1937010544)\n");
}

TEST_F(PulseMeterTool, APlayerThatQuitsEndsTheRunWithWhatWasMetered) {
    Player player(minus23Tone());
    ASSERT_TRUE(player.playing());
    const std::string pid = std::to_string(player.pid());
    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::seconds(4));  // past an idle sink's first wake-up
        player.quit();
    });
    const ToolRun run = meter("--capture --pid " + pid + " --seconds 20");
    quitter.join();
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_NEAR(json::parse(run.lines.back())["maxMomentary"].get<double>(), -23.0, 0.2);
    EXPECT_NE(run.errors.find("crestline-meter: pid:" + pid + ": the sound stopped after"), std::string::npos)
        << run.errors;
}
