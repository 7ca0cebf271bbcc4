#include "app/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace crestline {

ParsedAppOptions parseAppOptions(std::span<const std::string> args) {
    AppOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--autostart") {
            options.autostart = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--report") {
            if (i + 1 >= args.size()) return {std::nullopt, "--report needs a number of seconds"};
            const std::string& text = args[++i];
            char* end = nullptr;
            errno = 0;
            const double seconds = std::strtod(text.c_str(), &end);
            if (text.empty() || end != text.c_str() + text.size() || errno != 0 || !std::isfinite(seconds) ||
                seconds < 0.1 || seconds > 3600.0) {
                return {std::nullopt, "--report wants seconds from 0.1 to 3600, not \"" + text + "\""};
            }
            options.reportSeconds = seconds;
        } else {
            return {std::nullopt, "unknown option \"" + arg + "\""};
        }
    }
    return {options, {}};
}

std::string appUsage() {
    return "usage: crestline [--autostart] [--report SECONDS]\n"
           "  --autostart       started at login: stay hidden until Ableton Live runs\n"
           "  --report SECONDS  print the application's state as one JSON line every SECONDS\n";
}

}  // namespace crestline
