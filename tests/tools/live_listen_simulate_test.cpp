// crestline-live listen and simulate, run as the user runs them: separate
// processes talking over the loopback interface.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/udp_socket.h"
#include "tests/support/processes.h"
#include "tests/tools/tool_run.h"

using nlohmann::json;
using CrestlineLive = crestline::tools_test::ToolTest;

namespace {

// crestline-live with `arguments`, its stdout and stderr read as one stream.
crestline::test::Child crestlineLive(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), crestline::test::binary("crestline-live"));
    return crestline::test::Child(arguments, "/dev/null", {.output = true, .errorsToOutput = true});
}

// Reads its output to the end; the exit code, -1 when it did not end normally.
int finish(crestline::test::Child& child, std::string& output) {
    child.readUntil("", output);
    const auto status = child.waitForExit(20.0);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

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
    auto listener = crestlineLive({"listen", "--seconds", "4.5", "--port", port});
    auto simulator = crestlineLive({"simulate", "--bpm", "120", "--seconds", "3.2", "--port", port, "--locators", "0:Intro,32:Drop",
                     "--signature", "7/8"});
    std::string sent, heard;
    ASSERT_EQ(finish(simulator, sent), 0);
    ASSERT_EQ(finish(listener, heard), 0);

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
    auto listener = crestlineLive({"listen", "--port", port});
    std::string output;
    ASSERT_TRUE(listener.readUntil(R"({"beat":null})", output)) << output;  // its first report, a second in
    listener.signal(SIGINT);
    EXPECT_EQ(finish(listener, output), 0);
    EXPECT_NE(output.find("Crestline: poort " + port + " voor de Live Helper is bezet"), std::string::npos) << output;
    EXPECT_NE(output.find(R"({"beat":null})"), std::string::npos) << output;
}

}  // namespace
