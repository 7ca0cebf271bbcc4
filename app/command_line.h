// The application's command line:
//   crestline [--autostart] [--report SECONDS]
// --autostart: launched at login (the login item passes it);
// --report SECONDS: print one JSON line on stdout every SECONDS (0.1...3600).
// Parsing only; no I/O.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace crestline {

struct AppOptions {
    bool autostart = false;
    std::optional<double> reportSeconds;
    bool help = false;
};

struct ParsedAppOptions {
    std::optional<AppOptions> options;  // absent on error
    std::string error;                  // one line, without the program name
};

// `args` excludes the program name.
ParsedAppOptions parseAppOptions(std::span<const std::string> args);

std::string appUsage();

}  // namespace crestline
