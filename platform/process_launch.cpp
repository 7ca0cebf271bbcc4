#include "platform/process_launch.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/x11_properties.h"

namespace crestline {

namespace {

// The NUL-separated strings of a /proc file (cmdline, environ).
std::optional<std::vector<std::string>> nulSeparated(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
        parts.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool endsWithAls(const std::string& text) {
    if (text.size() < 4) return false;
    std::string tail = text.substr(text.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".als";
}

// "C:\...", "Z:\..." or "c:/...": how Wine shows a Windows program's path.
bool isWindowsPath(const std::string& text) {
    return text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) != 0 && text[1] == ':' &&
           (text[2] == '\\' || text[2] == '/');
}

std::optional<std::string> variable(const std::vector<std::string>& environment, const std::string& name) {
    for (const std::string& entry : environment) {
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=') {
            return entry.substr(name.size() + 1);
        }
    }
    return std::nullopt;
}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

std::optional<unsigned long> cardinal(Display* display, Window window, Atom property) {
    return readCardinal(display, window, property, XA_CARDINAL);
}

std::vector<Window> windowList(Display* display, Window root, Atom property) {
    const std::vector<unsigned long> ids = readCardinals(display, root, property, XA_WINDOW, 65536);
    return {ids.begin(), ids.end()};
}

}  // namespace

std::optional<LaunchRecord> readLaunchRecord(int pid, const std::string& procRoot) {
    if (pid <= 0) return std::nullopt;
    const std::filesystem::path folder = std::filesystem::path(procRoot) / std::to_string(pid);
    auto arguments = nulSeparated(folder / "cmdline");
    if (!arguments || arguments->empty() || arguments->front().empty()) return std::nullopt;
    LaunchRecord record;
    record.arguments = std::move(*arguments);
    record.environment = nulSeparated(folder / "environ").value_or(std::vector<std::string>{});
    std::error_code error;
    const auto cwd = std::filesystem::read_symlink(folder / "cwd", error);
    if (!error) record.workingFolder = cwd.string();
    return record;
}

std::vector<std::string> relaunchArguments(const LaunchRecord& record, const std::optional<std::string>& document) {
    std::vector<std::string> arguments;
    if (record.arguments.empty()) return arguments;
    if (isWindowsPath(record.arguments.front())) {
        arguments.push_back(variable(record.environment, "WINELOADER").value_or("wine"));
    }
    arguments.push_back(record.arguments.front());
    for (std::size_t i = 1; i < record.arguments.size(); ++i) {
        if (!endsWithAls(record.arguments[i])) arguments.push_back(record.arguments[i]);
    }
    if (document) arguments.push_back(*document);
    return arguments;
}

bool relaunch(const LaunchRecord& record, const std::optional<std::string>& document) {
    const std::vector<std::string> arguments = relaunchArguments(record, document);
    if (arguments.empty()) return false;
    // Everything the child needs is built before the fork: after it only
    // async-signal-safe calls.
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : record.environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const bool ownEnvironment = !record.environment.empty();
    const std::string folder = record.workingFolder;

    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(status[0]);
        ::close(status[1]);
        return false;
    }
    if (child == 0) {
        // The middle process leaves at once, so the program is nobody's child
        // of ours and never lingers as a zombie.
        ::setsid();
        if (::fork() != 0) ::_exit(0);
        if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
            // Start anyway from where we are.
        }
        if (ownEnvironment) {
            ::execvpe(argv[0], argv.data(), envp.data());
        } else {
            ::execvp(argv[0], argv.data());
        }
        const char failed = 1;
        [[maybe_unused]] const ssize_t written = ::write(status[1], &failed, 1);
        ::_exit(127);
    }
    ::close(status[1]);
    ::waitpid(child, nullptr, 0);
    // The pipe closes on a successful exec (close-on-exec) and carries one
    // byte when the exec failed.
    char failed = 0;
    const ssize_t got = ::read(status[0], &failed, 1);
    ::close(status[0]);
    return got == 0;
}

bool requestWindowClose(int pid) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0' || pid <= 0) return false;
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) return false;
    Display* d = display.get();
    const Window root = DefaultRootWindow(d);
    const Atom wmPid = XInternAtom(d, "_NET_WM_PID", False);
    const Atom clientList = XInternAtom(d, "_NET_CLIENT_LIST", False);
    const Atom supportingCheck = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);

    std::vector<Window> candidates = windowList(d, root, clientList);
    if (candidates.empty()) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(d, root, &rootReturn, &parent, &children, &count) != 0 && children != nullptr) {
            candidates.assign(children, children + count);
            XFree(children);
        }
    }
    // The main window is the largest of the process's windows.
    Window main = 0;
    long long largest = -1;
    for (const Window window : candidates) {
        if (cardinal(d, window, wmPid) != static_cast<unsigned long>(pid)) continue;
        XWindowAttributes attributes;
        if (XGetWindowAttributes(d, window, &attributes) == 0) continue;
        const long long area = static_cast<long long>(attributes.width) * attributes.height;
        if (area > largest) {
            largest = area;
            main = window;
        }
    }
    if (main == 0) return false;

    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.format = 32;
    if (!windowList(d, root, supportingCheck).empty()) {
        event.xclient.window = main;
        event.xclient.message_type = XInternAtom(d, "_NET_CLOSE_WINDOW", False);
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = 2;  // from a direct user action
        XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        event.xclient.window = main;
        event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, main, False, NoEventMask, &event);
    }
    XSync(d, False);
    return true;
}

}  // namespace crestline

namespace crestline {

namespace {

// ":1" and ":1.0" name the same display.
std::string displayName(std::string text) {
    const std::size_t colon = text.rfind(':');
    const std::size_t dot = text.find('.', colon == std::string::npos ? 0 : colon);
    if (dot != std::string::npos) text.resize(dot);
    return text;
}

}  // namespace

bool onThisDesktop(int pid, const std::string& procRoot) {
    const std::filesystem::path folder = std::filesystem::path(procRoot) / std::to_string(pid);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || info.st_uid != ::getuid()) return false;
    const char* ours = std::getenv("DISPLAY");
    if (ours == nullptr || *ours == '\0') return true;
    const auto environment = nulSeparated(folder / "environ");
    if (!environment) return true;  // unreadable: nothing says it is elsewhere
    const auto theirs = variable(*environment, "DISPLAY");
    return !theirs || theirs->empty() || displayName(*theirs) == displayName(ours);
}

}  // namespace crestline
