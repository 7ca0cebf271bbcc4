// crestline-live listen and simulate, run as the user runs them: separate
// processes talking over the loopback interface.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/udp_socket.h"
#include "tests/tools/tool_run.h"

extern char** environ;

using nlohmann::json;
using CrestlineLive = crestline::tools_test::ToolTest;

namespace {

// crestline-live as a child process whose stdout and stderr we read as one stream.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<std::string> all{crestline::tools_test::toolPath("crestline-live")};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    void interrupt() const {
        if (pid_ > 0) kill(pid_, SIGINT);
    }

    // Reads until `text` shows up in the output (any text: to the end); false at the end or after 20 s.
    bool readUntil(const std::string& text, std::string& output) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        char buffer[4096];
        while (text.empty() || output.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) return false;
            output.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Reads to the end, then returns the exit code (-1 when it did not exit).
    int finish(std::string& output) {
        if (pid_ <= 0) return -1;
        readUntil("", output);
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.front() == '{') lines.push_back(json::parse(line, nullptr, false));
    }
    return lines;
}

std::uint16_t freePort() {
    const crestline::UdpSocket probe = crestline::UdpSocket::bindLoopback(0);
    return probe.localPort();
}

TEST_F(CrestlineLive, SimulateAndListenAgreeOnTheBeatWithinFiveHundredthsOfABeat) {
    const std::string port = std::to_string(freePort());
    Child listener({"listen", "--seconds", "4.5", "--port", port});
    Child simulator({"simulate", "--bpm", "120", "--seconds", "3.2", "--port", port, "--locators", "0:Intro,32:Drop",
                     "--signature", "7/8"});
    std::string sent, heard;
    ASSERT_EQ(simulator.finish(sent), 0);
    ASSERT_EQ(listener.finish(heard), 0);

    // The simulated song is at beat b at host time t for each position sent,
    // moving at 2 beats per second.
    std::vector<std::pair<double, double>> positions;
    for (const json& line : jsonLines(sent)) {
        if (line["sent"]["type"] == "position" && line["sent"]["playing"] == true) {
            positions.emplace_back(line["time"].get<double>(), line["sent"]["beat"].get<double>());
        }
    }
    ASSERT_GT(positions.size(), 40u);

    int clocks = 0, locatorLines = 0;
    json lastClock;
    for (const json& line : jsonLines(heard)) {
        if (line.value("type", "") == "locators") {
            ++locatorLines;
            EXPECT_EQ(line["locators"], json::parse(R"([[0.0,"Intro"],[32.0,"Drop"]])"));
            EXPECT_EQ(line["numerator"], 7);
            EXPECT_EQ(line["denominator"], 8);
        }
        if (!line.contains("type")) lastClock = line;
        if (!line.contains("source")) continue;
        ++clocks;
        const double time = line["time"].get<double>();
        const auto& [sentTime, sentBeat] = *std::min_element(
            positions.begin(), positions.end(),
            [&](const auto& a, const auto& b) { return std::fabs(a.first - time) < std::fabs(b.first - time); });
        EXPECT_NEAR(line["beat"].get<double>(), sentBeat + (time - sentTime) * 2.0, 0.05) << line;
        EXPECT_NEAR(line["bpm"].get<double>(), 120.0, 3.0) << line;
        EXPECT_EQ(line["source"], "helper");
        EXPECT_EQ(line["playing"], true);
    }
    EXPECT_GE(locatorLines, 1);
    EXPECT_GE(clocks, 2) << heard;
    EXPECT_EQ(lastClock, json::parse(R"({"beat":null})"));  // the simulation stopped the transport first
}

TEST_F(CrestlineLive, ListenReportsATakenPortAndKeepsRunningUntilInterrupted) {
    const crestline::UdpSocket holder = crestline::UdpSocket::bindLoopback(0);
    const std::string port = std::to_string(holder.localPort());
    Child listener({"listen", "--port", port});
    std::string output;
    ASSERT_TRUE(listener.readUntil(R"({"beat":null})", output)) << output;  // its first report, a second in
    listener.interrupt();
    EXPECT_EQ(listener.finish(output), 0);
    EXPECT_NE(output.find("Crestline: poort " + port + " voor de Live Helper is bezet"), std::string::npos) << output;
    EXPECT_NE(output.find(R"({"beat":null})"), std::string::npos) << output;
}

}  // namespace
