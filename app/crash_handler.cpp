#include "app/crash_handler.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace crestline {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL};
constexpr int kSignalCount = static_cast<int>(sizeof(kSignals) / sizeof(kSignals[0]));
constexpr int kMaxFrames = 64;
constexpr int kMaxImages = 32;
constexpr std::size_t kAltStackBytes = 128 * 1024;
constexpr std::size_t kReportBytes = 64 * 1024;

// Everything the handler reads is set up before it is installed; nothing
// here is allocated or resized once a signal may arrive.
struct HandlerState {
    int fd = -1;
    char folder[PATH_MAX] = {};
    char runningPath[PATH_MAX] = {};
    char version[64] = {};
    char build[64] = {};
    const void* mainImage = nullptr;  // load address of the program itself
    struct sigaction previous[kSignalCount] = {};
    bool installed = false;
    stack_t altStack = {};
};

HandlerState g_state;
volatile sig_atomic_t g_handling = 0;
char g_report[kReportBytes];
alignas(16) char g_altStackMemory[kAltStackBytes];

void copyBounded(char* out, std::size_t size, std::string_view text) {
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// Appends to a fixed buffer; text past its end is dropped, and the report
// then ends early but stays one write.
class Writer {
public:
    Writer(char* buffer, std::size_t size) : begin_(buffer), at_(buffer), end_(buffer + size) {}

    void put(char c) {
        if (at_ < end_) *at_++ = c;
    }
    void raw(const char* text) {
        while (*text != '\0') put(*text++);
    }
    // A JSON string: quotes, backslashes and control bytes escaped; bytes
    // above ASCII become '?' so that a stray byte never makes the whole
    // report unreadable.
    void string(const char* text) {
        put('"');
        for (; text != nullptr && *text != '\0'; ++text) {
            const auto c = static_cast<unsigned char>(*text);
            if (c == '"' || c == '\\') {
                put('\\');
                put(static_cast<char>(c));
            } else if (c < 0x20) {
                raw("\\u00");
                put(hexDigit(c >> 4));
                put(hexDigit(c & 0xF));
            } else if (c >= 0x80) {
                put('?');
            } else {
                put(static_cast<char>(c));
            }
        }
        put('"');
    }
    void decimal(std::uint64_t value) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && n < 24);
        while (n > 0) put(digits[--n]);
    }
    void hex(std::uintptr_t value) {
        put('"');
        raw("0x");
        char digits[2 * sizeof(value)];
        int n = 0;
        do {
            digits[n++] = hexDigit(static_cast<unsigned>(value & 0xF));
            value >>= 4;
        } while (value != 0 && n < static_cast<int>(sizeof(digits)));
        while (n > 0) put(digits[--n]);
        put('"');
    }
    std::size_t size() const { return static_cast<std::size_t>(at_ - begin_); }

private:
    static char hexDigit(unsigned v) { return "0123456789abcdef"[v & 0xF]; }
    char* begin_;
    char* at_;
    char* end_;
};

const char* signalName(int signal) {
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGABRT: return "SIGABRT";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    default: return "signal";
    }
}

// The kind of fault, from the signal's code.
const char* codeName(int signal, int code) {
    if (code == SI_USER || code == SI_TKILL) return signal == SIGABRT ? "abort" : "sent";
    switch (signal) {
    case SIGSEGV:
        if (code == SEGV_MAPERR) return "SEGV_MAPERR";
        if (code == SEGV_ACCERR) return "SEGV_ACCERR";
        return "SEGV";
    case SIGBUS:
        if (code == BUS_ADRALN) return "BUS_ADRALN";
        if (code == BUS_ADRERR) return "BUS_ADRERR";
        if (code == BUS_OBJERR) return "BUS_OBJERR";
        return "BUS";
    case SIGFPE:
        if (code == FPE_INTDIV) return "FPE_INTDIV";
        if (code == FPE_INTOVF) return "FPE_INTOVF";
        if (code == FPE_FLTDIV) return "FPE_FLTDIV";
        return "FPE";
    case SIGILL:
        if (code == ILL_ILLOPC) return "ILL_ILLOPC";
        if (code == ILL_ILLOPN) return "ILL_ILLOPN";
        if (code == ILL_PRVOPC) return "ILL_PRVOPC";
        return "ILL";
    case SIGABRT: return "abort";
    default: return "signal";
    }
}

std::uintptr_t interruptedPc(const void* context) {
    if (context == nullptr) return 0;
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/') name = p + 1;
    return name;
}

std::size_t writeReport(int signal, const siginfo_t* info, const void* context) {
    void* frames[kMaxFrames];
    int count = backtrace(frames, kMaxFrames);
    if (count < 0) count = 0;

    // Start at the interrupted instruction: the frames before it are this
    // handler and the kernel's signal trampoline.
    int first = 0;
    const std::uintptr_t pc = interruptedPc(context);
    for (int i = 0; i < count; ++i) {
        if (reinterpret_cast<std::uintptr_t>(frames[i]) == pc) {
            first = i;
            break;
        }
    }

    struct Image {
        const void* base;
        const char* path;
    };
    Image images[kMaxImages];
    int imageCount = 0;

    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);

    Writer w(g_report, sizeof(g_report));
    w.raw("{\"app\":\"Crestline\",\"version\":");
    w.string(g_state.version);
    w.raw(",\"build\":");
    w.string(g_state.build);
    w.raw(",\"timestamp\":");
    w.decimal(static_cast<std::uint64_t>(now.tv_sec));
    w.raw(",\"pid\":");
    w.decimal(static_cast<std::uint64_t>(getpid()));
    w.raw(",\"exception\":{\"type\":");
    w.string(codeName(signal, info != nullptr ? info->si_code : 0));
    w.raw(",\"signal\":");
    w.string(signalName(signal));
    if (info != nullptr && signal != SIGABRT) {
        w.raw(",\"address\":");
        w.hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    }
    w.raw("},\"faultingThread\":0,\"threads\":[{\"triggered\":true,\"frames\":[");
    for (int i = first; i < count; ++i) {
        if (i > first) w.put(',');
        const auto address = reinterpret_cast<std::uintptr_t>(frames[i]);
        w.raw("{\"address\":");
        w.hex(address);
        // Frames after the first hold return addresses, which lie past their
        // call; a call to a function that never returns can be the last
        // instruction of its caller, so look up the call itself.
        const std::uintptr_t lookup = i > first && address > 0 ? address - 1 : address;
        Dl_info found{};
        if (dladdr(reinterpret_cast<void*>(lookup), &found) != 0 && found.dli_fbase != nullptr) {
            int index = 0;
            while (index < imageCount && images[index].base != found.dli_fbase) ++index;
            if (index == imageCount && imageCount < kMaxImages) {
                images[imageCount++] = {found.dli_fbase, found.dli_fname != nullptr ? found.dli_fname : ""};
            }
            if (index < imageCount) {
                w.raw(",\"imageIndex\":");
                w.decimal(static_cast<std::uint64_t>(index));
                w.raw(",\"imageOffset\":");
                w.decimal(lookup - reinterpret_cast<std::uintptr_t>(found.dli_fbase));
            }
            if (found.dli_sname != nullptr && found.dli_saddr != nullptr) {
                w.raw(",\"symbol\":");
                w.string(found.dli_sname);
                w.raw(",\"symbolLocation\":");
                w.decimal(lookup - reinterpret_cast<std::uintptr_t>(found.dli_saddr));
            }
        }
        w.put('}');
    }
    w.raw("]}],\"usedImages\":[");
    for (int i = 0; i < imageCount; ++i) {
        if (i > 0) w.put(',');
        w.raw("{\"name\":");
        w.string(images[i].base == g_state.mainImage ? "Crestline" : baseName(images[i].path));
        w.raw(",\"path\":");
        w.string(images[i].path);
        w.raw(",\"base\":");
        w.hex(reinterpret_cast<std::uintptr_t>(images[i].base));
        w.put('}');
    }
    w.raw("]}\n");
    return w.size();
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The final name: "<folder>/Crestline-<seconds>-<pid>.json".
void finalPath(char* out, std::size_t size) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    Writer w(out, size - 1);
    w.raw(g_state.folder);
    w.raw("/Crestline-");
    w.decimal(static_cast<std::uint64_t>(now.tv_sec));
    w.put('-');
    w.decimal(static_cast<std::uint64_t>(getpid()));
    w.raw(".json");
    out[w.size()] = '\0';
}

int signalIndex(int signal) {
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal) return i;
    return -1;
}

void onFatalSignal(int signal, siginfo_t* info, void* context) {
    const int index = signalIndex(signal);
    // One report per process: a second fault (in another thread, or in the
    // report itself) goes straight to the previous handler.
    if (g_handling == 0 && g_state.fd >= 0) {
        g_handling = 1;
        const int saved = errno;
        const std::size_t size = writeReport(signal, info, context);
        writeAll(g_state.fd, g_report, size);
        fsync(g_state.fd);
        close(g_state.fd);
        g_state.fd = -1;
        char path[PATH_MAX];
        finalPath(path, sizeof(path));
        rename(g_state.runningPath, path);
        errno = saved;
    }
    if (index < 0) return;
    const struct sigaction& previous = g_state.previous[index];
    sigaction(signal, &previous, nullptr);
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
        return;
    }
    // The default action: a fault repeats on return and ends the process;
    // a sent signal (abort) is raised again and arrives once we return.
    if (signal == SIGABRT || (info != nullptr && info->si_code <= 0)) raise(signal);
}

}  // namespace

std::filesystem::path defaultCrashFolder() {
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        state = std::filesystem::path(home) / ".local" / "state";
    } else {
        state = std::filesystem::temp_directory_path();
    }
    return state / "crestline" / "crashes";
}

bool installCrashHandler(const CrashHandlerOptions& options) {
    if (g_state.installed) return true;
    std::error_code error;
    std::filesystem::create_directories(options.folder, error);
    const std::string folder = options.folder.string();
    const std::string running = (options.folder / (".running-" + std::to_string(getpid()))).string();
    if (folder.size() + 64 >= sizeof(g_state.folder) || running.size() >= sizeof(g_state.runningPath)) return false;
    const int fd = open(running.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;

    copyBounded(g_state.folder, sizeof(g_state.folder), folder);
    copyBounded(g_state.runningPath, sizeof(g_state.runningPath), running);
    copyBounded(g_state.version, sizeof(g_state.version), options.version);
    copyBounded(g_state.build, sizeof(g_state.build), options.build);
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&onFatalSignal), &self) != 0) g_state.mainImage = self.dli_fbase;
    // The first backtrace loads the unwinder; do it now, not in the handler.
    void* prime[2];
    backtrace(prime, 2);
    g_state.fd = fd;

    g_state.altStack.ss_sp = g_altStackMemory;
    g_state.altStack.ss_size = sizeof(g_altStackMemory);
    g_state.altStack.ss_flags = 0;
    sigaltstack(&g_state.altStack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, &g_state.previous[i]);
    g_state.installed = true;
    std::atexit(disarmCrashHandler);
    return true;
}

void disarmCrashHandler() {
    if (!g_state.installed || g_handling != 0) return;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_state.previous[i], nullptr);
    if (g_state.fd >= 0) {
        close(g_state.fd);
        g_state.fd = -1;
        unlink(g_state.runningPath);
    }
    g_state.installed = false;
}

void removeStaleRunningFiles(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        constexpr std::string_view prefix = ".running-";
        if (name.rfind(prefix, 0) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (end == name.c_str() + prefix.size() || *end != '\0' || pid <= 0) continue;
        if (pid == getpid()) continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        std::filesystem::remove(entry.path(), error);
    }
}

}  // namespace crestline
