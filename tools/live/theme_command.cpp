// crestline-live theme: the colours Crestline would take from Live.
#include <nlohmann/json.hpp>

#include <iostream>
#include <ostream>

#include "live/live_theme.h"
#include "tools/live/commands.h"
#include "tools/live/daw_file_options.h"

namespace crestline::live_tool {
namespace {

int runTheme(const std::vector<std::string>& given, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args = given;
    if (!takeRootOption(args, err)) return kExitBadInput;
    bool dark = false;
    for (const auto& arg : args) {
        if (arg == "--dark") {
            dark = true;
        } else if (arg == "--light") {
            dark = false;
        } else {
            return fail(err, kExitBadInput, "usage: crestline-live theme [--root DIR] [--dark|--light]");
        }
    }
    LiveTheme::setSystemIsDark([dark] { return dark; });
    const auto colours = LiveTheme::current();
    if (!colours) {
        out << "null\n";
        return kExitOk;
    }
    const nlohmann::ordered_json result = {{"area", colours->area.hex()},
                                   {"surface", colours->surface.hex()},
                                   {"control", colours->control.hex()},
                                   {"isLight", colours->isLight},
                                   {"colours", colours->all.size()}};
    out << result.dump(2) << '\n';
    return kExitOk;
}

}  // namespace

int theme(std::span<const std::string> args) {
    return runTheme({args.begin(), args.end()}, std::cout, std::cerr);
}

}  // namespace crestline::live_tool
