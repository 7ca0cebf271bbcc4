#include "platform/log.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>

namespace crestline {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

LogSink& currentSink() {
    static LogSink sink;
    return sink;
}

void systemLog(std::string_view line) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("Crestline", LOG_PID, LOG_USER); });
    const std::string text(line);
    syslog(LOG_NOTICE, "%s", text.c_str());
    static const bool terminal = isatty(STDERR_FILENO) == 1;
    if (terminal) std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

void log(std::string_view line) {
    LogSink sink;
    {
        std::scoped_lock lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        sink(line);
    } else {
        systemLog(line);
    }
}

LogSink setLogSink(LogSink sink) {
    std::scoped_lock lock(sinkMutex());
    LogSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

LogCapture::LogCapture() {
    previous_ = setLogSink([this](std::string_view line) {
        std::scoped_lock lock(mutex_);
        lines_.emplace_back(line);
    });
}

LogCapture::~LogCapture() { setLogSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
    std::scoped_lock lock(mutex_);
    return lines_;
}

bool LogCapture::contains(std::string_view fragment) const { return count(fragment) > 0; }

int LogCapture::count(std::string_view fragment) const {
    std::scoped_lock lock(mutex_);
    int n = 0;
    for (const auto& line : lines_) {
        if (line.find(fragment) != std::string::npos) ++n;
    }
    return n;
}

void LogCapture::clear() {
    std::scoped_lock lock(mutex_);
    lines_.clear();
}

}  // namespace crestline
