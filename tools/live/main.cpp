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
    {"places", crestline::live_tool::places, "places [--root DIR]"},
    {"set", crestline::live_tool::set, "set FILE.als"},
    {"theme", crestline::live_tool::theme, "theme [--root DIR] [--dark|--light]"},
    {"register", crestline::live_tool::registerHelper, "register [--root DIR]"},
    {"install", crestline::live_tool::install, "install [--root DIR]"},
    {"listen", crestline::live_tool::listen, "listen [--seconds S] [--port N]"},
    {"simulate", crestline::live_tool::simulate,
     "simulate [--bpm B] [--seconds S] [--locators \"0:Intro,32:Drop\"] [--signature 7/8] [--port N]"},
};

int usage(FILE* to = stderr, int code = 2) {
    std::fputs("usage:\n", to);
    for (const Command& command : kCommands) {
        std::fprintf(to, "  crestline-live %.*s\n", static_cast<int>(command.usage.size()), command.usage.data());
    }
    std::fputs("Live's files are looked for under --root DIR, else $CRESTLINE_LIVE_ROOT, else the\n"
               "\"liveRoot\" setting, else $WINEPREFIX, else ~/.wine when it holds drive_c, else the\n"
               "home folder. A Wine prefix holds Live's Windows layout; another folder a copy of\n"
               "a Mac's files.\n",
               to);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    if (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h") return usage(stdout, 0);
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
