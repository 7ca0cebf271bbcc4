// A private desktop for end-to-end tests: an Xvfb server on a free display,
// openbox as window manager, a PulseAudio server with one float32 null sink,
// all in a folder of the test's own (runtime, config and home folders), and
// the programs a user would run there: `crestline --report`, the stand-in
// for Live and a player. Everything is started here and stopped by its pid.
#pragma once

#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/support/processes.h"

namespace crestline::testing {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;
using test::Child;
using test::commandOutput;
using test::eventually;
using test::readAll;

class DesktopSession {
public:
    static constexpr int kWidth = 1920;
    static constexpr int kHeight = 1080;

    // Empty when everything came up; else what did not.
    std::string start() {
        for (const char* program : {"Xvfb", "openbox", "pulseaudio", "pactl", "paplay", "xdotool"}) {
            if (!test::installed(program)) {
                missing_ = program;
                return std::string(program) + " missing";
            }
        }
        std::string pattern = (fs::temp_directory_path() / "crestline-desktop-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return "no temporary folder";
        folder_ = pattern;
        for (const char* sub : {"run", "config", "home", "state"}) {
            fs::create_directories(folder_ / sub);
            fs::permissions(folder_ / sub, fs::perms::owner_all);
        }
        setenv("XDG_RUNTIME_DIR", (folder_ / "run").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1);
        setenv("HOME", (folder_ / "home").c_str(), 1);
        setenv("CRESTLINE_LIVE_ROOT", (folder_ / "home").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + (folder_ / "run" / "pulse" / "native").string()).c_str(), 1);
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}) unsetenv(name);

        test::Xvfb xvfb = test::startXvfb(std::to_string(kWidth) + "x" + std::to_string(kHeight), folder_ / "xvfb.log");
        if (xvfb.display.empty()) return "Xvfb did not come up: " + readAll(folder_ / "xvfb.log");
        xvfb_ = std::move(xvfb.process);
        setenv("DISPLAY", xvfb.display.c_str(), 1);

        openbox_ = Child({"openbox", "--sm-disable"}, folder_ / "openbox.log");
        if (!eventually(30.0, [] {
                return commandOutput("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null").find("window id") !=
                       std::string::npos;
            })) {
            return "openbox did not come up: " + readAll(folder_ / "openbox.log");
        }
        return startSound();
    }

    std::string startSound() {
        pulse_ = Child({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
                        "--high-priority=no", "--disallow-exit", "--log-target=stderr",
                        "--load=module-null-sink format=float32le rate=48000 sink_name=test channels=2",
                        "--load=module-native-protocol-unix auth-anonymous=1"},
                       folder_ / "pulseaudio.log");
        if (!eventually(30.0, [] { return std::system("pactl info >/dev/null 2>&1") == 0; })) {
            return "PulseAudio did not come up: " + readAll(folder_ / "pulseaudio.log");
        }
        return {};
    }
    void killSound() { pulse_.stop(SIGKILL); }

    ~DesktopSession() {
        app_.stop();
        live_.stop();
        for (Child& player : players_) player.stop();
        pulse_.stop();
        openbox_.stop();
        xvfb_.stop();
        std::error_code ignored;
        if (!folder_.empty()) fs::remove_all(folder_, ignored);
    }

    const fs::path& folder() const { return folder_; }
    fs::path settingsFile() const { return folder_ / "config" / "crestline" / "settings.json"; }

    void writeSettings(const Json& values) {
        fs::create_directories(settingsFile().parent_path());
        std::ofstream(settingsFile()) << values.dump(2) << "\n";
    }
    Json storedSettings() const {
        Json values = Json::parse(readAll(settingsFile()), nullptr, false);
        return values.is_discarded() ? Json::object() : values;
    }

    // ---- Crestline -------------------------------------------------------
    void startApp() { app_ = Child({binary("crestline"), "--report", "0.25"}, folder_ / "crestline.log"); }
    Child& app() { return app_; }
    // The report lines printed so far (stderr's log lines are skipped).
    std::vector<Json> reports() const {
        std::vector<Json> lines;
        std::istringstream text(readAll(folder_ / "crestline.log"));
        for (std::string line; std::getline(text, line);) {
            if (line.empty() || line.front() != '{') continue;
            Json value = Json::parse(line, nullptr, false);
            if (!value.is_discarded() && value.is_object()) lines.push_back(std::move(value));
        }
        return lines;
    }
    // The first report, from now on, that satisfies `condition`.
    std::optional<Json> waitForReport(double seconds, const std::function<bool(const Json&)>& condition) {
        const std::size_t seen = reports().size();
        std::optional<Json> found;
        eventually(seconds, [&] {
            const auto all = reports();
            for (std::size_t i = seen; i < all.size(); ++i) {
                if (condition(all[i])) {
                    found = all[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    // The application's output without the report lines, and its last report.
    std::string appLog() const {
        std::istringstream text(readAll(folder_ / "crestline.log"));
        std::string log;
        std::string last;
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.front() == '{') {
                last = line;
            } else {
                log += line + "\n";
            }
        }
        return log + "last report: " + last;
    }

    // ---- Live's stand-in and other programs --------------------------------
    // Starts the stand-in and waits until it says it is ready; its pid.
    pid_t startLive(std::vector<std::string> options = {}) {
        options.insert(options.begin(), binary("fake_live"));
        const fs::path log = folder_ / ("live-" + std::to_string(++lives_) + ".log");
        live_ = Child(options, log, {.name = "Ableton Live 12 Test", .input = true});
        eventually(10.0, [&] { return readAll(log).find("ready ") != std::string::npos; });
        return live_.pid();
    }
    Child& live() { return live_; }

    // A stereo tone of `seconds` at `dbfs` peak through the test sink.
    void play(double dbfs, double frequency, double seconds) {
        const fs::path file = folder_ / ("tone-" + std::to_string(players_.size()) + ".raw");
        std::vector<float> samples;
        const int frames = static_cast<int>(seconds * 48000);
        const double amplitude = std::pow(10.0, dbfs / 20.0);
        samples.reserve(static_cast<std::size_t>(frames) * 2);
        for (int f = 0; f < frames; ++f) {
            const auto v = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * f / 48000.0));
            samples.push_back(v);
            samples.push_back(v);
        }
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
        players_.emplace_back(std::vector<std::string>{"paplay", "--raw", "--format=float32le", "--rate=48000",
                                                       "--channels=2", "-d", "test", "--latency-msec=300",
                                                       file.string()},
                              folder_ / ("player-" + std::to_string(players_.size()) + ".log"));
    }

    // The top-level windows titled exactly `title` that are shown.
    std::vector<std::string> windowsTitled(const std::string& title) const {
        std::vector<std::string> ids;
        std::istringstream text(
            commandOutput("timeout 5 xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null"));
        for (std::string id; text >> id;) ids.push_back(id);
        return ids;
    }
    // Gives the window the keyboard and types `key` into it, as a user would.
    bool pressKey(const std::string& window, const std::string& key) const {
        return std::system(("timeout 5 xdotool windowactivate --sync " + window + " key --clearmodifiers " + key +
                            " >/dev/null 2>&1")
                               .c_str()) == 0;
    }

    static std::string binary(const std::string& name) { return test::binary(name); }
    // The program that `start` found missing, if any; anything else that
    // failed to come up is a failure of the test, not a missing component.
    const std::string& missing() const { return missing_; }

private:
    std::string missing_;
    fs::path folder_;
    Child xvfb_;
    Child openbox_;
    Child pulse_;
    Child app_;
    Child live_;
    std::vector<Child> players_;
    int lives_ = 0;
};

}  // namespace crestline::testing
