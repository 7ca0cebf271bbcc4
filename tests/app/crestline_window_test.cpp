// The application on a real X server: `crestline` comes up under a private
// Xvfb, shows its window and quits cleanly on SIGTERM. The test starts the
// server itself and stops it by its pid.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/components.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string crestline() {
    const char* bin = std::getenv("CRESTLINE_BIN_DIR");
    return (fs::path(bin != nullptr ? bin : "build/bin") / "crestline").string();
}

// Starts `argv` with stdout and stderr going to `log`.
pid_t spawn(const std::vector<std::string>& argv, const fs::path& log) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (std::FILE* out = std::fopen(log.c_str(), "w")) {
        ::dup2(::fileno(out), 1);
        ::dup2(::fileno(out), 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// The child's wait status once it ends within `limit`.
std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds limit) {
    for (const auto end = std::chrono::steady_clock::now() + limit;; std::this_thread::sleep_for(20ms)) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    }
}

std::string output(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

class CrestlineWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        CRESTLINE_REQUIRE_COMPONENT(crestline::test::installed("Xvfb"), "Xvfb");
        fs::create_directories(folder_);
        // Xvfb takes a free display and names it on the pipe once it accepts clients.
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                      folder_ / "xvfb.log");
        ::close(ready[1]);
        char number[16] = {};
        const ssize_t length = ::read(ready[0], number, sizeof number - 1);
        ::close(ready[0]);
        ASSERT_GT(length, 0) << "Xvfb did not come up";
        display_ = ":" + std::to_string(std::atoi(number));
    }
    void TearDown() override {
        for (const auto& [pid, signal] : {std::pair(app_, SIGKILL), std::pair(xvfb_, SIGTERM)}) {
            if (pid > 0 && ::kill(pid, signal) == 0) ::waitpid(pid, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    bool windowShown() const {
        return output("xwininfo -display " + display_ + " -root -tree 2>/dev/null").find("\"Crestline\"") !=
               std::string::npos;
    }

    const fs::path folder_ = fs::temp_directory_path() / ("crestline-window-test-" + std::to_string(::getpid()));
    std::string display_;
    pid_t xvfb_ = -1;
    pid_t app_ = -1;
};

TEST_F(CrestlineWindowTest, ComesUpShowsItsWindowAndQuitsCleanly) {
    // The tests run with the offscreen platform: this one wants the X server.
    app_ = spawn({"env", "-u", "QT_QPA_PLATFORM", "-u", "WAYLAND_DISPLAY", "DISPLAY=" + display_, crestline()},
                 folder_ / "crestline.log");
    bool shown = false;
    for (int i = 0; i < 500 && !shown; ++i) {
        ASSERT_FALSE(waitFor(app_, 0ms).has_value()) << "crestline ended early";
        shown = windowShown();
        if (!shown) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(shown) << "no Crestline window on " << display_;
    // It keeps running (the capture retries quietly without sound to tap).
    std::this_thread::sleep_for(2500ms);
    ASSERT_FALSE(waitFor(app_, 0ms).has_value()) << "crestline ended while running";

    ASSERT_EQ(::kill(app_, SIGTERM), 0);
    const auto status = waitFor(app_, 10s);
    ASSERT_TRUE(status.has_value()) << "crestline did not quit";
    app_ = -1;
    EXPECT_TRUE(WIFEXITED(*status)) << "ended by signal " << (WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_FALSE(windowShown());
}

TEST(CrestlineWithoutDisplay, SaysSoAndEndsWithAnError) {
    const std::string text = output("timeout 10 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + crestline() +
                                    "' 2>&1; echo \"exit $?\"");
    EXPECT_NE(text.find("crestline: no display"), std::string::npos) << text;
    EXPECT_NE(text.find("exit 1\n"), std::string::npos) << text;
}

}  // namespace
