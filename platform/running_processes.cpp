#include "platform/running_processes.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string_view>

namespace crestline {
namespace {

constexpr std::string_view kLivePrefix = "ableton live";
constexpr std::string_view kWinePrefix = "wine";
constexpr std::string_view kWindowsProgram = ".exe";
// Neither file is long; a huge one is not a process entry we understand.
constexpr std::streamsize kMaxProcFileBytes = 64 * 1024;

// Read in small pieces: the files are a few bytes long, and the scan runs
// over every process each periodic tick, so a buffer sized for the cap
// (zeroed each time) would cost more than all the reading.
std::string readSmall(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text;
    char piece[512];
    while (static_cast<std::streamsize>(text.size()) < kMaxProcFileBytes) {
        const std::streamsize wanted =
            std::min<std::streamsize>(sizeof piece, kMaxProcFileBytes - static_cast<std::streamsize>(text.size()));
        in.read(piece, wanted);
        text.append(piece, static_cast<size_t>(in.gcount()));
        if (in.gcount() < wanted) break;
    }
    return text;
}

bool startsWithFolded(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (size_t i = 0; i < lowerPrefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != lowerPrefix[i]) return false;
    }
    return true;
}

bool endsWithFolded(std::string_view text, std::string_view lowerSuffix) {
    return text.size() >= lowerSuffix.size() && startsWithFolded(text.substr(text.size() - lowerSuffix.size()), lowerSuffix);
}

std::string baseName(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::mutex& listMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<ProcessList>& installedList() {
    static std::shared_ptr<ProcessList> list;
    return list;
}

}  // namespace

std::vector<RunningProcess> ProcFsProcessList::running() {
    std::scoped_lock lock(mutex_);
    std::vector<RunningProcess> result;
    std::map<int, Known> seen;
    std::error_code error;
    for (std::filesystem::directory_iterator it(root_, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        int pid = 0;
        const auto parsed = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parsed.ec != std::errc() || parsed.ptr != name.data() + name.size() || pid <= 0) continue;
        // A process may exit between the listing and the reads: it then
        // simply has no names and is not the DAW.
        const std::string stat = readSmall(it->path() / "stat");
        const auto open = stat.find('(');
        const auto close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        if (close + 2 < stat.size() && stat[close + 2] == 'Z') continue;
        // "pid (name) state ppid ... starttime ...": the name, and the 20th
        // field after it (the start time) tell one process from the next.
        std::string_view rest(stat);
        rest.remove_prefix(close + 1);
        std::size_t field = 1;  // `at` is at the space before the state
        std::size_t at = 0;
        while (field < 20 && at < rest.size()) {
            at = rest.find(' ', at + 1);
            if (at == std::string_view::npos) break;
            ++field;
        }
        const std::string_view start = at == std::string_view::npos ? std::string_view() : rest.substr(at, rest.find(' ', at + 1) - at);
        std::string identity = stat.substr(open, close + 1 - open);
        identity.append(start);

        auto known = known_.find(pid);
        if (known == known_.end() || known->second.identity != identity) {
            RunningProcess process;
            process.pid = pid;
            process.command = stat.substr(open + 1, close - open - 1);
            process.program = programOf(readSmall(it->path() / "cmdline"));
            process.executable = baseName(process.program);
            // A command line still empty (a process caught between fork and
            // exec) is read again next time.
            if (process.program.empty()) identity.clear();
            known = known_.insert_or_assign(pid, Known{std::move(identity), std::move(process)}).first;
        }
        result.push_back(known->second.process);
        seen.insert(*known);
    }
    known_ = std::move(seen);  // forget the processes that ended
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return result;
}

std::string programOf(std::string_view cmdline) {
    auto argument = [&](std::size_t index) {
        std::size_t at = 0;
        for (std::size_t i = 0; i < index; ++i) {
            at = cmdline.find('\0', at);
            if (at == std::string_view::npos) return std::string_view();
            ++at;
        }
        return cmdline.substr(at, cmdline.find('\0', at) - at);
    };
    std::string_view program = argument(0);
    // Wine's loader stays argv[0] when it cannot move the Windows program's
    // name over its own; the program follows it.
    if (startsWithFolded(baseName(program), kWinePrefix)) {
        if (const std::string_view next = argument(1); !next.empty()) program = next;
    }
    if (program.starts_with('"')) {
        program.remove_prefix(1);
        program = program.substr(0, program.find('"'));
    }
    return std::string(program);
}

bool isAbleton(const RunningProcess& process) {
    const std::string& name = process.executable;
    if (endsWithFolded(name, kWindowsProgram)) {
        // "Ableton Live <version>.exe": something between the two parts.
        return name.size() > kLivePrefix.size() + 1 + kWindowsProgram.size() && startsWithFolded(name, kLivePrefix) &&
               name[kLivePrefix.size()] == ' ';
    }
    return startsWithFolded(name, kLivePrefix) || startsWithFolded(process.command, kLivePrefix);
}

std::optional<RunningProcess> findLive(ProcessList& list) {
    for (auto& process : list.running()) {
        if (isAbleton(process)) return process;
    }
    return std::nullopt;
}

ProcessList& processList() {
    std::scoped_lock lock(listMutex());
    auto& list = installedList();
    if (!list) list = std::make_shared<ProcFsProcessList>();
    return *list;
}

std::shared_ptr<ProcessList> setProcessList(std::shared_ptr<ProcessList> list) {
    std::scoped_lock lock(listMutex());
    auto previous = std::move(installedList());
    installedList() = std::move(list);
    return previous;
}

std::optional<RunningProcess> findLive() { return findLive(processList()); }

}  // namespace crestline
