// Stopping a program politely and starting it again the way it was started:
// what a restart of Live needs. The record comes from /proc (argv, the
// environment, the working folder), so a Live under Wine comes back under
// the same Wine prefix; the polite stop is the window manager's close
// request for the program's windows, as a click on their close button.
//
// Any thread; each call is a few file reads or one short X11 connection.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace crestline {

struct LaunchRecord {
    std::vector<std::string> arguments;    // argv, the program first
    std::vector<std::string> environment;  // "NAME=value"
    std::string workingFolder;
    bool operator==(const LaunchRecord&) const = default;
};

// How process `pid` was started, read from `procRoot`/<pid>; nothing when
// the process is gone or its files cannot be read (another user's process).
std::optional<LaunchRecord> readLaunchRecord(int pid, const std::string& procRoot = "/proc");

// The command line that starts the program again with `document`: the
// recorded arguments without earlier Live sets (".als"), then the document.
// A Windows program (argv[0] a Windows path, as Wine shows it) is started
// through the recorded WINELOADER, else "wine".
std::vector<std::string> relaunchArguments(const LaunchRecord& record, const std::optional<std::string>& document);

// Starts the command detached from us (its own session, not our child), in
// the recorded folder and environment. False when it could not be started.
bool relaunch(const LaunchRecord& record, const std::optional<std::string>& document);

// Asks every top-level window of `pid` to close, through the window
// manager (_NET_CLOSE_WINDOW) or, without one, WM_DELETE_WINDOW. False
// when there is no display or no window of that process.
bool requestWindowClose(int pid);

}  // namespace crestline

namespace crestline {

// Whether process `pid` runs on this desktop: the same user as us and, when
// both name one, the same X display. Another user's Live, or a Live on
// another seat or test display of the same machine, is not ours to follow.
bool onThisDesktop(int pid, const std::string& procRoot = "/proc");

}  // namespace crestline
