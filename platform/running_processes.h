// Finding the DAW among the running processes. The list comes from a
// `ProcessList`: the /proc scan for real use, a fake in tests. The scan
// costs one directory listing and two small reads per process, so it runs
// on the periodic tick, not in a loop.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace crestline {

struct RunningProcess {
    int pid = 0;
    std::string command;     // the kernel's short command name (/proc/PID/comm)
    std::string executable;  // base name of the program (argv[0]), "\" and "/" both separate
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
    std::string root_;
};

class FakeProcessList final : public ProcessList {
public:
    std::vector<RunningProcess> processes;
    std::vector<RunningProcess> running() override { return processes; }
};

// The DAW: an executable or command name that begins with "Ableton Live",
// compared without regard to case (a Wine process shows the Windows
// program's name, "Ableton Live 12 Suite.exe").
bool isAbleton(const RunningProcess& process);

// The first DAW process of the list, or nothing.
std::optional<RunningProcess> findLive(ProcessList& list);

// The process-wide list: /proc unless replaced (tests, tools). Replacing
// returns the previous one; null restores /proc.
ProcessList& processList();
std::shared_ptr<ProcessList> setProcessList(std::shared_ptr<ProcessList> list);

// findLive over the process-wide list.
std::optional<RunningProcess> findLive();

}  // namespace crestline
