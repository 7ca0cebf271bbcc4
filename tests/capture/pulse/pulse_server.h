// Test support: a private PulseAudio server with null sinks of float32
// samples, started in this test process's own runtime folder (the test main
// gives each run a fresh XDG_RUNTIME_DIR) and stopped by its pid; test
// players (paplay) and WAV files to play.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace crestline::testing {

// Starts `argv` with stdout and stderr into `logPath` (or nowhere); 0 when it
// cannot be started.
inline pid_t spawnProcess(const std::vector<std::string>& argv, const std::string& logPath = "/dev/null") {
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

// Ends a child we started: SIGTERM, then SIGKILL after a grace period.
inline void endProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

inline bool hasExited(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

// Polls `done` every 10 ms for at most `seconds` of real time.
inline bool eventually(double seconds, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline std::string runtimeFolder() {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    return folder ? folder : "/tmp";
}

class PulseServer {
public:
    // Each entry is the argument list of one module-null-sink, for example
    // "sink_name=test format=float32le rate=48000 channels=2". The first sink
    // is the default one.
    explicit PulseServer(const std::vector<std::string>& sinks) {
        const std::string runtime = runtimeFolder();
        // Only this server: neither a desktop's server nor its bus.
        setenv("PULSE_SERVER", ("unix:" + runtime + "/pulse/native").c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        logPath_ = runtime + "/pulseaudio.log";
        std::vector<std::string> argv = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                         "--realtime=no", "--high-priority=no", "--disallow-exit",
                                         "--log-target=stderr"};
        for (const auto& sink : sinks) argv.push_back("--load=module-null-sink " + sink);
        argv.push_back("--load=module-native-protocol-unix auth-anonymous=1");
        pid_ = spawnProcess(argv, logPath_);
        ready_ = pid_ > 0 && eventually(10.0, [] { return run({"pactl", "info"}) == 0; });
    }
    ~PulseServer() { stop(); }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }
    std::string log() const {
        std::ifstream in(logPath_);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void stop() {
        endProcess(pid_);
        pid_ = 0;
        ready_ = false;
    }

    // Runs a command to its end and gives its exit status (-1: not run).
    static int run(const std::vector<std::string>& argv) {
        const pid_t pid = spawnProcess(argv);
        if (pid <= 0) return -1;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    bool ready_ = false;
    std::string logPath_;
};

// paplay of one file on one sink. Its buffer is short enough for the
// monitor to see the sound soon (the default is two seconds) and long
// enough not to run dry on a busy machine. Ended by its pid.
class Player {
public:
    Player(const std::string& file, const std::string& sink, const std::string& channelMap = {}) {
        std::vector<std::string> argv = {"paplay", "-d", sink, "--latency-msec=300"};
        if (!channelMap.empty()) argv.push_back("--channel-map=" + channelMap);
        argv.push_back(file);
        pid_ = spawnProcess(argv);
    }
    ~Player() { endProcess(pid_); }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    pid_t pid() const { return pid_; }
    void quit() {
        endProcess(pid_);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
};

// A 32-bit float WAV file of `seconds` at `rate`; sample(channel, frame).
inline std::string writeWav(const std::string& name, int channels, int rate, double seconds,
                            const std::function<float(int, std::int64_t)>& sample) {
    const std::string path = runtimeFolder() + "/" + name;
    const auto frames = static_cast<std::int64_t>(seconds * rate);
    const auto dataBytes = static_cast<std::uint32_t>(frames * channels * 4);
    std::ofstream out(path, std::ios::binary);
    const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(3);  // IEEE float
    u16(static_cast<std::uint16_t>(channels));
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate * channels * 4));
    u16(static_cast<std::uint16_t>(channels * 4));
    u16(32);
    out.write("data", 4);
    u32(dataBytes);
    std::vector<float> samples;
    samples.reserve(static_cast<std::size_t>(frames * channels));
    for (std::int64_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) samples.push_back(sample(c, f));
    }
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
    return path;
}

inline float sine(double amplitude, double frequency, int rate, std::int64_t frame) {
    return static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(frame) / rate));
}

}  // namespace crestline::testing
