// crestline-live: Live integration from the command line.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log.h"
#include "tools/live/commands.h"

namespace {

struct Command {
    std::string_view name;
    int (*run)(std::span<const std::string> args);
    std::string_view usage;
};

constexpr Command kCommands[] = {
    {"listen", crestline::live_tool::listen, "listen [--seconds S] [--port N]"},
    {"simulate", crestline::live_tool::simulate,
     "simulate [--bpm B] [--seconds S] [--locators \"0:Intro,32:Drop\"] [--signature 7/8] [--port N]"},
};

int usage() {
    std::fputs("usage:\n", stderr);
    for (const Command& command : kCommands) {
        std::fprintf(stderr, "  crestline-live %.*s\n", static_cast<int>(command.usage.size()), command.usage.data());
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    // A tool talks to its terminal, not to the system log.
    crestline::setLogSink([](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
    const std::string_view name = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const Command& command : kCommands) {
        if (command.name == name) return command.run(args);
    }
    std::fprintf(stderr, "crestline-live: unknown command \"%s\"\n", argv[1]);
    return usage();
}
