// Finds out that the application crashed in an earlier run, asks the user
// once whether to send the report, and sends a scrubbed copy with a one-line
// summary to the product site's "/api/crash".
//
// Reports are the files our crash handler leaves in the crash folder
// (app/crash_handler.h). `start` looks there once at launch; a report is
// offered only when it is newer than "crashReportsCheckedUntil", and on the
// very first run that date is set to now, so crashes from before the
// installation are never offered. `ask` stores the date first, so the
// question comes once whatever the answer.
//
// Scrubbing removes what names the user or the machine: the home folder's
// name in /home/... and /Users/... paths, the user and host names as whole
// words, UUID-like tokens and the values of the identifier members. It is a
// hand-written scanner, linear in the report, over a size-capped read.
//
// Main thread only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/service_ports.h"
#include "platform/clock.h"

namespace crestline {

class Settings;

struct CrashReport {
    std::string report;   // scrubbed
    std::string summary;  // one line, may be empty
    bool operator==(const CrashReport&) const = default;
};

// What names the user and the machine, for scrubbing.
struct ScrubNames {
    std::string userName;
    std::string hostName;
};

// The members of the upload that describe the program and the machine.
struct CrashIdentity {
    std::string version;
    std::string build;
    std::string os;
    std::string model;
    std::string systemName;  // the distribution's name, for the question
};

class CrashReporter {
public:
    static constexpr std::uint64_t kMaxReportBytes = 4 * 1024 * 1024;
    static constexpr const char* kCheckedUntilKey = "crashReportsCheckedUntil";
    // Reports kept in the folder; older ones go at start.
    static constexpr std::size_t kKeptReports = 10;

    CrashReporter(Settings& settings, const Clock& clock, std::filesystem::path folder, CrashIdentity identity,
                  ScrubNames names);

    // Once at launch: the newest unseen report becomes pending; on the first
    // run the date is recorded instead. Reports beyond the newest ten are
    // removed, so a program that keeps crashing does not fill the folder.
    void start();
    // A report from another source; ignored while one is pending.
    void offer(CrashReport report);
    const std::optional<CrashReport>& pending() const { return pending_; }

    // Asks about the pending report; "Send Report" uploads it through
    // `upload` to `endpoint`. Nothing happens without a pending report.
    void ask(Alerts& alerts, CrashUpload& upload, const std::string& endpoint);

    // The newest report file modified after "crashReportsCheckedUntil":
    // a name beginning with "Crestline" and the extension json, ips or crash.
    std::optional<CrashReport> newestReport() const;
    // The upload's JSON object: version, build, os, model, summary, report.
    std::string uploadBody(const CrashReport& report) const;

    static std::string scrub(std::string_view report, const ScrubNames& names);
    // "<type> <signal> in <symbol>" from a JSON report; empty when the report
    // cannot be read. Every index into the report is checked.
    static std::string summary(std::string_view report);

    static constexpr const char* kQuestion = "Crestline quit unexpectedly last time";
    // The alert's text, naming the distribution (e.g. "Debian GNU/Linux").
    static std::string explanation(std::string_view system);

private:
    // Our report files, newest first.
    std::vector<std::filesystem::path> reportFiles() const;

    Settings& settings_;
    const Clock& clock_;
    std::filesystem::path folder_;
    CrashIdentity identity_;
    ScrubNames names_;
    std::optional<CrashReport> pending_;
};

// The names and the machine of this process: the login name, the host name,
// the distribution's name and kernel, the hardware model.
ScrubNames currentScrubNames();
CrashIdentity currentCrashIdentity();

}  // namespace crestline
