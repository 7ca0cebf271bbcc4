// The application's window on a real X server: `crestline` comes up under
// a private Xvfb, shows its window, and quits cleanly on SIGTERM. The test
// starts the server itself and stops it by its pid.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

fs::path binary(const char* name) {
    const char* bin = std::getenv("CRESTLINE_BIN_DIR");
    return fs::path(bin != nullptr ? bin : "build/bin") / name;
}

// Starts `argv` with `environment` added to (or, for empty values, removed
// from) this process's environment; stdout and stderr go to `log`.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& environment,
            const fs::path& log) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    for (const auto& [key, value] : environment) {
        if (value.empty()) {
            ::unsetenv(key.c_str());
        } else {
            ::setenv(key.c_str(), value.c_str(), 1);
        }
    }
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

// Waits up to `limit` for the child; its wait status, or nothing.
std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

std::string output(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

class CrestlineWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("crestline-window-test-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        if (output("command -v Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed";
        // A display number of our own: the first without a lock file.
        for (int n = 80 + ::getpid() % 100; n < 400; ++n) {
            if (!fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                display_ = ":" + std::to_string(n);
                break;
            }
        }
        xvfb_ = spawn({"Xvfb", display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, {},
                      folder_ / "xvfb.log");
        const fs::path socket = "/tmp/.X11-unix/X" + display_.substr(1);
        for (int i = 0; i < 250 && !fs::exists(socket); ++i) std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(fs::exists(socket)) << "Xvfb did not come up on " << display_;
    }
    void TearDown() override {
        if (app_ > 0 && !waitFor(app_, 0ms)) {
            ::kill(app_, SIGKILL);
            waitFor(app_, 5s);
        }
        if (xvfb_ > 0) {
            ::kill(xvfb_, SIGTERM);
            if (!waitFor(xvfb_, 5s)) {
                ::kill(xvfb_, SIGKILL);
                waitFor(xvfb_, 5s);
            }
        }
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    bool windowShown() const {
        return output("xwininfo -display " + display_ + " -root -tree 2>/dev/null").find("\"Crestline\"") !=
               std::string::npos;
    }

    fs::path folder_;
    std::string display_;
    pid_t xvfb_ = -1;
    pid_t app_ = -1;
};

TEST_F(CrestlineWindowTest, ComesUpShowsItsWindowAndQuitsCleanly) {
    // The tests run with the offscreen platform: this one wants the X server.
    app_ = spawn({binary("crestline").string()},
                 {{"DISPLAY", display_}, {"QT_QPA_PLATFORM", ""}, {"WAYLAND_DISPLAY", ""}}, folder_ / "crestline.log");
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
    const fs::path log = fs::temp_directory_path() / ("crestline-nodisplay-" + std::to_string(::getpid()) + ".log");
    const pid_t pid = spawn({binary("crestline").string()},
                            {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, log);
    const auto status = waitFor(pid, 10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    EXPECT_NE(output("cat '" + log.string() + "'").find("crestline: no display"), std::string::npos);
    fs::remove(log);
}

}  // namespace
