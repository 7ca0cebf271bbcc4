#include "tools/live/daw_file_options.h"

#include <cstdlib>
#include <ostream>

namespace crestline::live_tool {

bool takeRootOption(std::vector<std::string>& args, std::ostream& err) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it != "--root") continue;
        if (it + 1 == args.end() || (it + 1)->empty()) {
            fail(err, kExitBadInput, "--root needs a folder");
            return false;
        }
        setenv("CRESTLINE_LIVE_ROOT", (it + 1)->c_str(), 1);
        args.erase(it, it + 2);
        return true;
    }
    return true;
}

int fail(std::ostream& err, int code, std::string_view text) {
    err << "crestline-live: " << text << '\n';
    return code;
}

}  // namespace crestline::live_tool
