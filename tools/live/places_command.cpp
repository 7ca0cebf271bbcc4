// crestline-live places: where Crestline looks for Live's files and what it
// found there, as JSON. The first thing to run when the bar does not connect
// to Live: every place that is missing says why in its "missing" field.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <ostream>

#include "live/live_helper.h"
#include "live/live_places.h"
#include "platform/files.h"
#include "tools/live/commands.h"
#include "tools/live/daw_file_options.h"

namespace crestline::live_tool {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr std::uint64_t kMaxScriptBytes = 4ull << 20;

Json place(const LivePlaces::Place& place) {
    if (place.path) return Json{{"path", place.path->string()}};
    return Json{{"path", nullptr}, {"missing", place.missing}};
}

std::size_t themeFiles(const fs::path& folder) {
    std::error_code error;
    std::size_t count = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".ask") ++count;
    }
    return count;
}

Json helperScript(const LivePlaces::Places& places) {
    if (places.layout == LivePlaces::Layout::none) return place({std::nullopt, places.layoutWhy});
    if (!places.userLibrary.place.path) return place({std::nullopt, places.userLibrary.place.missing});
    const fs::path script = *places.userLibrary.place.path / "Remote Scripts" / "Crestline" / "__init__.py";
    const auto installed = readFileBytes(script, kMaxScriptBytes);
    Json json{{"path", script.string()}, {"installed", installed.has_value()}};
    if (!installed) {
        json["missing"] = "not installed yet: run crestline-live install";
        return json;
    }
    const auto bundled = LiveHelper::bundled();
    const auto ours = bundled ? readFileBytes(*bundled, kMaxScriptBytes) : std::nullopt;
    json["current"] = ours ? Json(*ours == *installed) : Json(nullptr);
    return json;
}

Json registration(const LivePlaces::Places& places) {
    if (!places.preferences.path) return Json{{"state", "unrecognised"}, {"missing", places.preferences.missing}};
    const auto status = LiveHelper::status(places.preferences.path);
    Json json;
    using Kind = LiveHelper::Status::Kind;
    switch (status.kind) {
    case Kind::registered: json = {{"state", "registered"}, {"slot", status.slot}}; break;
    case Kind::notRegistered:
        json = {{"state", "notRegistered"},
                {"freeSlot", status.slot},
                {"missing", "not registered yet: run crestline-live register while Live is closed"}};
        break;
    case Kind::noFreeSlot:
        json = {{"state", "noFreeSlot"}, {"missing", "all six Control Surface slots hold other scripts"}};
        break;
    case Kind::unrecognised: json = {{"state", "unrecognised"}, {"missing", status.why}}; break;
    }
    json["settingsKey"] = LivePlaces::registrationKey(*places.preferences.path);
    return json;
}

int runPlaces(const std::vector<std::string>& given, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args = given;
    const bool rootGiven = std::find(args.begin(), args.end(), "--root") != args.end();
    if (!takeRootOption(args, err)) return kExitBadInput;
    if (!args.empty()) return fail(err, kExitBadInput, "usage: crestline-live places [--root DIR]");

    const auto places = LivePlaces::find();
    Json json;
    json["layout"] = LivePlaces::layoutName(places.layout);
    json["layoutWhy"] = places.layoutWhy;
    json["root"] = places.root.path.string();
    json["rootFrom"] = rootGiven ? std::string_view("--root") : dawRootSourceName(places.root.source);
    json["preferences"] = place(places.preferences);
    if (places.preferences.path) json["preferences"]["version"] = LivePlaces::versionName(*places.preferences.path);
    json["userLibrary"] = place(places.userLibrary.place);
    if (places.userLibrary.place.path) {
        json["userLibrary"]["fromLibraryCfg"] = places.userLibrary.fromLibraryCfg;
        if (!places.userLibrary.fromLibraryCfg) json["userLibrary"]["libraryCfg"] = places.userLibrary.libraryCfg;
    }
    json["application"] = place(places.application);
    json["themes"] = place(places.themes);
    if (places.themes.path) json["themes"]["themeFiles"] = themeFiles(*places.themes.path);
    json["helperScript"] = helperScript(places);
    json["registration"] = registration(places);
    out << json.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
    return kExitOk;
}

}  // namespace

int places(std::span<const std::string> args) { return runPlaces({args.begin(), args.end()}, std::cout, std::cerr); }

}  // namespace crestline::live_tool
