#include "tools/live/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace crestline::live_tool {

std::optional<std::map<std::string, std::string>> parseOptions(std::string_view command,
                                                               std::span<const std::string> args,
                                                               std::initializer_list<std::string_view> known) {
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        bool isKnown = false;
        for (const std::string_view option : known) isKnown = isKnown || name == option;
        if (!name.starts_with("--") || !isKnown) {
            std::fprintf(stderr, "crestline-live %.*s: unknown option \"%s\"\n", static_cast<int>(command.size()),
                         command.data(), args[i].c_str());
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "crestline-live %.*s: %s needs a value\n", static_cast<int>(command.size()),
                             command.data(), name.c_str());
                return std::nullopt;
            }
            value = args[++i];
        }
        values[name.substr(2)] = *value;
    }
    return values;
}

std::optional<double> parseNumber(std::string_view text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
    const std::optional<double> value = parseNumber(text);
    if (!value || *value < 1 || *value > 65535 || *value != std::floor(*value)) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

void printLine(const nlohmann::json& value) {
    static std::mutex mutex;
    const std::string line = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::scoped_lock held(mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::chrono::steady_clock::time_point deadlineAfter(double seconds) {
    using steady = std::chrono::steady_clock;
    if (std::isinf(seconds)) return steady::time_point::max();
    return steady::now() + std::chrono::duration_cast<steady::duration>(std::chrono::duration<double>(seconds));
}

Interrupts::Interrupts() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

bool Interrupts::waitUntil(std::chrono::steady_clock::time_point deadline) {
    while (!interrupted_) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(nanoseconds / 1'000'000'000), static_cast<long>(nanoseconds % 1'000'000'000)};
        if (sigtimedwait(&set_, nullptr, &timeout) > 0) interrupted_ = true;
    }
    return false;
}

}  // namespace crestline::live_tool
