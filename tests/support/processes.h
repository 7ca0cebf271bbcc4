// Programs that tests start themselves (servers, the built tools, Live's
// stand-in) and end by their pid, never by name: several test runs share
// this machine.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/components.h"

namespace crestline::test {

inline std::string readAll(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline std::string commandOutput(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

// Polls `done` every 20 ms for at most `seconds` of real time.
inline bool eventually(double seconds, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline std::string binary(const std::string& name) {
    const char* bin = std::getenv("CRESTLINE_BIN_DIR");
    return (std::filesystem::path(bin != nullptr ? bin : "build/bin") / name).string();
}

struct ChildOptions {
    std::string name{};           // what the process calls itself, when not argv[0]
    bool input = false;           // a pipe to its stdin
    bool output = false;          // its stdout through a pipe
    bool errorsToOutput = false;  // and its stderr too
};

// A started program. Its stdout and stderr go to `log`, or through a pipe
// the test reads; a pipe to its stdin on request. Ended with the object:
// the signal given, then SIGKILL after two seconds.
class Child {
public:
    Child() = default;
    explicit Child(const std::vector<std::string>& argv, const std::filesystem::path& log = "/dev/null",
                   const ChildOptions& options = {}) {
        int in[2] = {-1, -1}, out[2] = {-1, -1};
        if ((options.input && ::pipe2(in, O_CLOEXEC) != 0) || (options.output && ::pipe2(out, O_CLOEXEC) != 0)) return;
        // Everything is made before the fork: the test process may run threads.
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        if (!options.name.empty()) args[0] = const_cast<char*>(options.name.c_str());
        args.push_back(nullptr);
        const int file = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test killed half-way leaves nothing running
            ::dup2(options.input ? in[0] : null, 0);
            ::dup2(options.output ? out[1] : file, 1);
            ::dup2(options.errorsToOutput ? out[1] : file, 2);
            ::execvp(argv[0].c_str(), args.data());
            ::_exit(127);
        }
        ::close(file);
        ::close(null);
        if (options.input) ::close(in[0]), input_ = in[1];
        if (options.output) ::close(out[1]), output_ = out[0];
    }
    ~Child() {
        stop();
        if (output_ >= 0) ::close(output_);
    }
    Child(Child&& other) noexcept { *this = std::move(other); }
    Child& operator=(Child&& other) noexcept {
        stop();
        if (output_ >= 0) ::close(output_);
        pid_ = std::exchange(other.pid_, -1);
        input_ = std::exchange(other.input_, -1);
        output_ = std::exchange(other.output_, -1);
        status_ = other.status_;
        return *this;
    }

    pid_t pid() const { return pid_; }
    bool running() {
        int status = 0;
        if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) != pid_) return pid_ > 0;
        status_ = status;
        pid_ = -1;
        return false;
    }
    // The wait status once it ended.
    std::optional<int> exitStatus() const { return status_; }
    std::optional<int> waitForExit(double seconds) {
        eventually(seconds, [this] { return !running(); });
        return status_;
    }
    void signal(int number) const {
        if (pid_ > 0) ::kill(pid_, number);
    }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        if (input_ >= 0) [[maybe_unused]] auto written = ::write(input_, text.data(), text.size());
    }
    // Reads its output until `text` shows (any text: to its end); false at
    // the end or after `seconds`.
    bool readUntil(const std::string& text, std::string& into, double seconds = 20.0) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        char buffer[4096];
        while (text.empty() || into.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd readable{output_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
            const ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n <= 0) return false;
            into.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    // One line of its output, without the newline; empty after five seconds.
    std::string readLine() {
        std::string text;
        pollfd readable{output_, POLLIN, 0};
        char c = 0;
        while (::poll(&readable, 1, 5000) == 1 && ::read(output_, &c, 1) == 1 && c != '\n') text.push_back(c);
        return text;
    }
    void stop(int first = SIGTERM) {
        if (input_ >= 0) ::close(std::exchange(input_, -1));
        if (pid_ <= 0) return;
        ::kill(pid_, first);
        ::kill(pid_, SIGCONT);  // a stopped process takes its signal only once it goes on
        if (!eventually(2.0, [this] { return !running(); })) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            status_ = status;
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::optional<int> status_;
};

// An Xvfb of `size` ("1280x800") on a free display, which it names on a pipe
// once it accepts clients, so parallel test runs never race for a number.
struct Xvfb {
    bool missing = false;  // not installed
    std::string display;   // ":N"; empty when it did not come up
    Child process;
};

inline Xvfb startXvfb(const std::string& size, const std::filesystem::path& log) {
    Xvfb server;
    server.missing = !installed("Xvfb");
    int ready[2];
    if (server.missing || ::pipe(ready) != 0) return server;
    server.process = Child({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", size + "x24", "-nolisten",
                            "tcp", "-noreset"},
                           log);
    ::close(ready[1]);
    std::string number;
    pollfd reader{ready[0], POLLIN, 0};
    char c = 0;
    while (::poll(&reader, 1, 10000) == 1 && ::read(ready[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    ::close(ready[0]);
    if (!number.empty()) server.display = ":" + number;
    return server;
}

}  // namespace crestline::test
