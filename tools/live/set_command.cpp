// crestline-live set FILE.als: what the bar would show from a set file.
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <ostream>

#include "live/live_set_reader.h"
#include "platform/files.h"
#include "tools/live/commands.h"
#include "tools/live/daw_file_options.h"

namespace crestline::live_tool {
namespace {

std::string isoDate(std::chrono::system_clock::time_point when) {
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000 - (millis % 1000 < 0 ? 1 : 0));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[40];
    const size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    char tail[16];
    std::snprintf(tail, sizeof tail, ".%03dZ", static_cast<int>(((millis % 1000) + 1000) % 1000));
    return std::string(buffer, n) + tail;
}

int runSet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1 || args[0].empty() || args[0].starts_with("--")) {
        return fail(err, kExitBadInput, "usage: crestline-live set FILE.als");
    }
    const std::string& file = args[0];
    errno = 0;
    if (!readFileBytes(file, LiveSetReader::kMaxCompressedBytes)) {
        const char* reason = errno != 0 ? std::strerror(errno) : "not a regular file, or larger than 64 MiB";
        return fail(err, kExitBadInput, "cannot read " + file + ": " + reason);
    }
    const auto text = LiveSetReader::gunzippedText(file);
    if (!text) return fail(err, kExitBadInput, file + " is not a Live set: not gzip-compressed, truncated or damaged");
    if (text->find("<Ableton") == std::string::npos) {
        return fail(err, kExitBadInput, file + " is not a Live set: no <Ableton> document inside");
    }
    const auto set = LiveSetReader::read(file);
    if (!set) return fail(err, kExitBadInput, "cannot read " + file + ": it changed while being read");

    nlohmann::ordered_json locators = nlohmann::ordered_json::array();
    for (const auto& l : set->locators) locators.push_back({{"beat", l.beat}, {"name", l.name}});
    nlohmann::ordered_json signatures = nlohmann::ordered_json::array();
    for (const auto& s : set->signatures) signatures.push_back({{"beat", s.beat}, {"beatsPerBar", s.beatsPerBar}});
    nlohmann::ordered_json result = {{"path", std::filesystem::absolute(set->path).string()},
                             {"modified", isoDate(set->modified)},
                             {"locators", locators},
                             {"signatures", signatures},
                             {"savedBeat", nullptr}};
    if (set->savedBeat) result["savedBeat"] = *set->savedBeat;
    // Replace rather than fail on odd bytes in names: the text is repaired UTF-8 already.
    out << result.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return kExitOk;
}

}  // namespace

int set(std::span<const std::string> args) {
    return runSet({args.begin(), args.end()}, std::cout, std::cerr);
}

}  // namespace crestline::live_tool
