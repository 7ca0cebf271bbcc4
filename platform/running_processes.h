// Finding the DAW among the running processes. The list comes from a
// `ProcessList`: the /proc scan for real use, a fake in tests. The scan
// costs one directory listing and one small read per process (its stat
// line); a command line is read only for a process not seen before under
// that name, so it runs on the periodic tick without showing in the load.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crestline {

struct RunningProcess {
    int pid = 0;
    std::string command;     // the kernel's short command name (/proc/PID/comm), at most 15 bytes
    std::string executable;  // base name of `program`, "\" and "/" both separate
    // The program as its command line names it: argv[0], or under Wine the
    // Windows program after the loader ("C:\...\Ableton Live 12 Suite.exe").
    // Given a default so that {pid, command, executable} still initialises.
    std::string program = {};
    bool operator==(const RunningProcess&) const = default;
};

class ProcessList {
public:
    virtual ~ProcessList() = default;
    // Live processes (zombies excluded), ascending by pid.
    virtual std::vector<RunningProcess> running() = 0;
};

// Reads /proc (or another folder laid out like it).
class ProcFsProcessList final : public ProcessList {
public:
    explicit ProcFsProcessList(std::string root = "/proc") : root_(std::move(root)) {}
    std::vector<RunningProcess> running() override;

private:
    // What the last scan read of a process. Its identity is the stat
    // line's name and start time: a new process under a reused pid, or an
    // exec (which renames it), reads its command line anew.
    struct Known {
        std::string identity;
        RunningProcess process;
    };
    std::string root_;
    std::mutex mutex_;  // one scan at a time
    std::map<int, Known> known_;
};

class FakeProcessList final : public ProcessList {
public:
    std::vector<RunningProcess> processes;
    std::vector<RunningProcess> running() override { return processes; }
};

// The DAW, compared without regard to case: a program named "Ableton
// Live <version>.exe" (Live under Wine), or a native program or command
// name beginning with "Ableton Live". Another Windows program (Wine's
// start.exe launching Live, "Ableton Index.exe") is not Live, whatever its
// command name says; a command name alone, cut to 15 bytes by the kernel
// ("Ableton Live 12"), serves when the command line cannot be read.
bool isAbleton(const RunningProcess& process);

// The program named by a /proc command line (NUL-separated arguments):
// argv[0], or the argument after Wine's loader ("wine", "wine64",
// "wine64-preloader", any folder) when argv[0] is one. A quoted first
// argument ("\"C:\...\x.exe\" /arg" in one string) is unquoted.
std::string programOf(std::string_view cmdline);

// The first DAW process of the list, or nothing.
std::optional<RunningProcess> findLive(ProcessList& list);

// The process-wide list: /proc unless replaced (tests, tools). Replacing
// returns the previous one; null restores /proc.
ProcessList& processList();
std::shared_ptr<ProcessList> setProcessList(std::shared_ptr<ProcessList> list);

// findLive over the process-wide list.
std::optional<RunningProcess> findLive();

}  // namespace crestline
