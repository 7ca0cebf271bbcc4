// Our own fatal-signal handler. `installCrashHandler` opens the report file
// at start-up (a hidden ".running-<pid>" file in the crash folder) and
// installs handlers for SIGSEGV, SIGBUS, SIGABRT, SIGFPE and SIGILL on an
// alternate stack, so a stack overflow is reported too. When one fires, the
// handler writes a JSON report into that file and renames it to
// "Crestline-<unix seconds>-<pid>.json"; then it hands the signal to the
// handler that was installed before (a sanitizer's, or the default action
// that ends the process with a core).
//
// The report carries the members the crash reporter reads: "exception"
// ("type" is the signal's code, "signal" its name, "address" the faulting
// address), "faultingThread", "threads"[0]."frames" (each with "imageIndex",
// "imageOffset", "symbol" where the dynamic symbol table names one, and
// "address"), "usedImages" (the executable is named "Crestline"), and the
// version and build.
//
// Inside the handler only async-signal-safe work runs: write, rename, close,
// clock_gettime, and glibc's backtrace and dladdr (backtrace is primed at
// install, so it loads nothing later; glibc documents its symbol lookup as
// safe there, which is how backtrace_symbols_fd works). Text is formatted
// into a fixed buffer without allocating.
//
// Install once, on the main thread, before other threads start. A clean
// exit calls `disarmCrashHandler` (also registered with atexit), which
// removes the unused file.
#pragma once

#include <filesystem>
#include <string_view>

namespace crestline {

struct CrashHandlerOptions {
    std::filesystem::path folder;  // created when missing
    std::string_view version;
    std::string_view build;
};

// $XDG_STATE_HOME/crestline/crashes (XDG_STATE_HOME defaults to
// ~/.local/state).
std::filesystem::path defaultCrashFolder();

// False when the folder or the file cannot be made (then nothing is
// installed and crashes go unreported).
bool installCrashHandler(const CrashHandlerOptions& options);

// Removes the unused report file and restores the previous handlers.
void disarmCrashHandler();

// Leftover ".running-<pid>" files of runs that ended without a clean exit
// or a report (killed outright); their processes are gone.
void removeStaleRunningFiles(const std::filesystem::path& folder);

}  // namespace crestline
