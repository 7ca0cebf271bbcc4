// Small pieces shared by the commands of crestline-live: "--name value"
// options, strict number parsing, and waiting that an interrupt cuts short.
#pragma once

#include <signal.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace crestline::live_tool {

// "--name value" or "--name=value" for the names in `known`; anything else
// is an error, reported on stderr with the command's name. Nothing on error.
std::optional<std::map<std::string, std::string>> parseOptions(std::string_view command,
                                                               std::span<const std::string> args,
                                                               std::initializer_list<std::string_view> known);

// The whole text as a finite number; nothing for "", "12x", " 1", "nan".
std::optional<double> parseNumber(std::string_view text);
// A UDP port 1…65535.
std::optional<std::uint16_t> parsePort(std::string_view text);

// One JSON value as one line on stdout, written whole and flushed so a pipe
// sees it at once. Any thread.
void printLine(const nlohmann::json& value);

// `seconds` from now on the steady clock; never for an infinite span.
std::chrono::steady_clock::time_point deadlineAfter(double seconds);

// Blocks SIGINT and SIGTERM for the whole process (call it before any
// thread starts, so every thread inherits the mask) and lets the main
// thread wait for a deadline or one of them, whichever comes first.
class Interrupts {
public:
    Interrupts();
    // False once an interrupt arrived (now or earlier).
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    sigset_t set_{};
    bool interrupted_ = false;
};

}  // namespace crestline::live_tool
