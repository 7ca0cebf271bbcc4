// The system log. Every diagnostic line of the product goes through `log`,
// which hands it to syslog (ident "Crestline") and, when stderr is a
// terminal, to stderr as well. Lines carry no level; callers start them with
// "Crestline: ". Any thread may log. Tests replace the sink to read lines.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace crestline {

using LogSink = std::function<void(std::string_view line)>;

void log(std::string_view line);

// Installs `sink` for every later line and returns the one it replaced; an
// empty sink restores the system log.
LogSink setLogSink(LogSink sink);

// Collects the lines logged during its lifetime instead of sending them to
// the system log. Meant for tests; not re-entrant across threads' scopes.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;
    int count(std::string_view fragment) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    LogSink previous_;
};

}  // namespace crestline
