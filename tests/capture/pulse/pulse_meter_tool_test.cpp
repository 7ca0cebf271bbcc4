// crestline-meter --capture against a private PulseAudio server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/capture/pulse/pulse_server.h"

using namespace crestline::testing;
using json = nlohmann::ordered_json;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::vector<std::string> lines;  // stdout
    std::string errors;              // stderr
};

ToolRun meter(const std::string& arguments) {
    const char* bin = std::getenv("CRESTLINE_BIN_DIR");
    const std::string folder = runtimeFolder();
    const std::string command = std::string("'") + (bin ? bin : ".") + "/crestline-meter' " + arguments + " >'" +
                                folder + "/out' 2>'" + folder + "/err' </dev/null";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream out(folder + "/out");
    for (std::string line; std::getline(out, line);) run.lines.push_back(line);
    std::stringstream errors;
    errors << std::ifstream(folder + "/err").rdbuf();
    run.errors = errors.str();
    return run;
}

class PulseMeterTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ready()) << server.log(); }

    // Waits until paplay's stream is on the server.
    static void awaitStream(const Player& player) {
        ASSERT_TRUE(eventually(10.0, [&] {
            return PulseServer::run({"sh", "-c", "pactl list sink-inputs | grep -q 'application.process.id = \"" +
                                                     std::to_string(player.pid()) + "\"'"}) == 0;
        }));
    }

    PulseServer server{{"sink_name=test format=float32le rate=48000 channels=2"}};
};

std::string minus23(const std::string& name) {
    const double amplitude = std::pow(10.0, -23.0 / 20.0);
    return writeWav(name, 2, 48000, 20.0, [&](int, std::int64_t f) { return sine(amplitude, 1000.0, 48000, f); });
}

}  // namespace

TEST_F(PulseMeterTool, MetersOneProcessAndPrintsTheFileJsonWithItsSource) {
    Player player(minus23("tone.wav"), "test");
    awaitStream(player);
    const std::string pid = std::to_string(player.pid());
    const ToolRun run = meter("--capture --pid " + pid + " --seconds 3 --every 1");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_GE(run.lines.size(), 2u);
    const json periodic = json::parse(run.lines.front());
    EXPECT_FALSE(periodic.contains("source"));
    // Emitted at the first poll after one second of audio.
    EXPECT_GE(periodic["t"].get<double>(), 1.0);
    EXPECT_LT(periodic["t"].get<double>(), 1.5);

    const json last = json::parse(run.lines.back());
    EXPECT_EQ(last.begin().key(), "source");
    EXPECT_EQ(last["source"], "pid:" + pid);
    EXPECT_EQ(last["sampleRate"], 48000);
    EXPECT_GT(last["frames"].get<long long>(), 2 * 48000);
    EXPECT_NEAR(last["integrated"].get<double>(), -23.0, 0.2);
    EXPECT_NEAR(last["momentary"].get<double>(), -23.0, 0.2);
    EXPECT_NEAR(last["samplePeak"][0].get<double>(), -23.0, 0.1);
    EXPECT_NEAR(last["truePeak"].get<double>(), -23.0, 0.2);
}

TEST_F(PulseMeterTool, WithoutAPidMetersAllSound) {
    Player player(minus23("tone.wav"), "test");
    awaitStream(player);
    const ToolRun run = meter("--capture --seconds 2");
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    ASSERT_EQ(run.lines.size(), 1u);
    const json last = json::parse(run.lines.back());
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
    Player player(minus23("tone.wav"), "test");
    awaitStream(player);
    const pid_t pid = player.pid();
    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::seconds(4));  // past an idle sink's first wake-up
        player.quit();
    });
    const ToolRun run = meter("--capture --pid " + std::to_string(pid) + " --seconds 20");
    quitter.join();
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_NEAR(json::parse(run.lines.back())["maxMomentary"].get<double>(), -23.0, 0.2);
    EXPECT_NE(run.errors.find("crestline-meter: pid:" + std::to_string(pid) + ": the sound stopped after"),
              std::string::npos)
        << run.errors;
}
