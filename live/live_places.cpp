#include "live/live_places.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <vector>

#include "live/live_set_reader.h"
#include "platform/files.h"
#include "platform/log.h"
#include "settings/settings.h"

namespace crestline::LivePlaces {
namespace {

namespace fs = std::filesystem;
using TimePoint = std::chrono::system_clock::time_point;

constexpr std::uint64_t kMaxLibraryBytes = 4ull << 20;
// Distinct failures logged per run; more would only repeat a broken file.
constexpr std::size_t kMaxLoggedFailures = 64;

// Live's folders inside a Windows user folder, newer spelling first.
const std::vector<std::vector<std::string>> kRoamingSpellings = {{"AppData", "Roaming"}, {"Application Data"}};
const std::vector<std::string> kDocumentsSpellings = {"Documents", "My Documents"};

struct Preferences {
    fs::path folder;
    TimePoint modified = TimePoint::min();
    fs::path user;  // Windows layout: the user folder it belongs to
};

struct Detected {
    Layout layout = Layout::none;
    std::string why;
    std::optional<Preferences> preferences;
};

bool isDirectory(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool startsWithLive(const fs::path& folder) { return folder.filename().string().starts_with("Live "); }

// The newest of `found` in list order: a later one must be strictly newer.
std::optional<Preferences> newest(const std::vector<Preferences>& found) {
    std::optional<Preferences> best;
    for (const auto& candidate : found) {
        if (!best || candidate.modified > best->modified) best = candidate;
    }
    return best;
}

std::optional<TimePoint> preferencesDate(const fs::path& folder) {
    const auto cfg = childFolded(folder, "Preferences.cfg");
    if (!cfg) return std::nullopt;
    const auto stamp = fileStamp(*cfg);
    if (!stamp) return std::nullopt;
    return stamp->modified;
}

std::optional<Preferences> newestMac(const fs::path& root) {
    std::vector<Preferences> found;
    for (const auto& folder : subfolders(dawPreferencesFolder(root))) {
        if (!startsWithLive(folder)) continue;
        // A Preferences.cfg that exists but cannot be dated still counts.
        std::error_code error;
        if (!fs::exists(folder / "Preferences.cfg", error)) continue;
        found.push_back({folder, preferencesDate(folder).value_or(TimePoint::min()), {}});
    }
    return newest(found);
}

std::optional<Preferences> newestWindows(const fs::path& root) {
    std::vector<Preferences> found;
    // Wine names it so; checking first spares a home folder a listing on
    // every tick.
    if (!isDirectory(root / "drive_c")) return std::nullopt;
    for (const auto& user : wineUserFolders(root)) {
        for (auto spelling : kRoamingSpellings) {
            spelling.push_back("Ableton");
            for (const auto& version : subfolders(descendFolded(user, spelling))) {
                if (!startsWithLive(version)) continue;
                const auto folder = childFolded(version, "Preferences");
                if (!folder || !childFolded(*folder, "Preferences.cfg")) continue;
                found.push_back({*folder, preferencesDate(*folder).value_or(TimePoint::min()), user});
            }
        }
    }
    return newest(found);
}

// A Wine prefix in which Live has left a trace.
bool hasWindowsLive(const fs::path& root) {
    if (!isDirectory(root / "drive_c")) return false;
    if (isDirectory(descendFolded(root, {"drive_c", "ProgramData", "Ableton"}))) return true;
    for (const auto& user : wineUserFolders(root)) {
        for (auto spelling : kRoamingSpellings) {
            spelling.push_back("Ableton");
            if (isDirectory(descendFolded(user, spelling))) return true;
        }
        for (const auto& documents : kDocumentsSpellings) {
            if (isDirectory(descendFolded(user, {documents, "Ableton"}))) return true;
        }
    }
    return false;
}

bool hasMacLive(const fs::path& root) {
    return isDirectory(dawPreferencesFolder(root)) || isDirectory(root / "Music" / "Ableton") ||
           dawApplication(root).has_value();
}

Detected detect(const fs::path& root) {
    if (!isDirectory(root)) return {Layout::none, "the root " + root.string() + " is not a folder", std::nullopt};
    const auto windows = newestWindows(root);
    const auto mac = newestMac(root);
    if (windows && mac) {
        // Live ran last where it saved last.
        if (mac->modified > windows->modified) {
            return {Layout::mac, "both layouts hold Live's preferences; the Mac layout's Preferences.cfg is newer", mac};
        }
        return {Layout::windows, "both layouts hold Live's preferences; the Wine prefix's Preferences.cfg is newer",
                windows};
    }
    if (windows) return {Layout::windows, "Live's preferences are in the Wine prefix (drive_c)", windows};
    if (mac) return {Layout::mac, "Live's preferences are under Library/Preferences/Ableton", mac};
    if (hasWindowsLive(root)) {
        return {Layout::windows, "a Wine prefix with Ableton's folders, without a Preferences.cfg yet", std::nullopt};
    }
    if (hasMacLive(root)) return {Layout::mac, "Live's Mac folders, without a Preferences.cfg yet", std::nullopt};
    if (isDirectory(root / "drive_c")) {
        return {Layout::none, "a Wine prefix without any Ableton folder: Live is not installed in " + root.string(),
                std::nullopt};
    }
    return {Layout::none,
            "no Live files under " + root.string() +
                ": neither a Wine prefix (drive_c) nor Live's Mac folders (Library/Preferences/Ableton, Music/Ableton)",
            std::nullopt};
}

std::mutex& logMutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<std::string>& logged() {
    static std::set<std::string> lines;
    return lines;
}

// The path is looked up on every tick; its failure is worth one line.
void logOnce(const std::string& line) {
    {
        std::scoped_lock lock(logMutex());
        if (logged().size() >= kMaxLoggedFailures || !logged().insert(line).second) return;
    }
    log(line);
}

// The user whose default User Library serves: the preferences' owner, else
// the first with an Ableton documents folder, else the first.
std::optional<fs::path> windowsUser(const fs::path& root, const std::optional<Preferences>& preferences) {
    if (preferences && !preferences->user.empty()) return preferences->user;
    const auto users = wineUserFolders(root);
    for (const auto& user : users) {
        for (const auto& documents : kDocumentsSpellings) {
            if (isDirectory(descendFolded(user, {documents, "Ableton"}))) return user;
        }
    }
    if (users.empty()) return std::nullopt;
    return users.front();
}

Place defaultUserLibrary(const fs::path& root, const Detected& detected) {
    if (detected.layout == Layout::none) return {std::nullopt, detected.why};
    if (detected.layout == Layout::mac) return {dawDefaultUserLibrary(root), {}};
    const auto user = windowsUser(root, detected.preferences);
    if (!user) return {std::nullopt, "the Wine prefix has no user folder in drive_c/users"};
    for (const auto& documents : kDocumentsSpellings) {
        const auto library = descendFolded(*user, {documents, "Ableton", "User Library"});
        if (isDirectory(library)) return {library, {}};
    }
    // Where Live makes it on its first start: Documents (a link into the
    // home folder in many prefixes), else the older "My Documents".
    for (const auto& documents : kDocumentsSpellings) {
        if (const auto folder = childFolded(*user, documents); folder && isDirectory(*folder)) {
            return {descendFolded(*folder, {"Ableton", "User Library"}), {}};
        }
    }
    return {descendFolded(*user, {"Documents", "Ableton", "User Library"}), {}};
}

UserLibrary findUserLibrary(const fs::path& root, const Detected& detected) {
    UserLibrary result{defaultUserLibrary(root, detected), false, {}};
    if (!detected.preferences) {
        result.libraryCfg = "no preferences folder to hold a Library.cfg";
        return result;
    }
    const fs::path cfg = detected.preferences->folder / "Library.cfg";
    const auto bytes = readFileBytes(cfg, kMaxLibraryBytes);
    if (!bytes) {
        result.libraryCfg = "no readable Library.cfg in " + detected.preferences->folder.string();
        return result;
    }
    std::string why;
    const auto projectPath = libraryProjectPath(*bytes, &why);
    if (!projectPath) {
        result.libraryCfg = "Library.cfg " + why;
        return result;
    }
    fs::path folder;
    if (detected.layout == Layout::windows) {
        const auto translation = translateWindowsPath(root, *projectPath);
        if (!translation.path) {
            result.libraryCfg = "Library.cfg names \"" + *projectPath + "\", which cannot be translated into the prefix: " +
                                translation.why;
            logOnce("Crestline: User Library uit Library.cfg (" + *projectPath + ") niet te vinden in " + root.string() +
                    ": " + translation.why + "; de standaard User Library wordt gebruikt");
            return result;
        }
        folder = descendFolded(*translation.path, {"User Library"});
    } else {
        folder = fs::path(*projectPath) / "User Library";
    }
    if (!isDirectory(folder)) {
        result.libraryCfg = "Library.cfg names " + folder.string() + ", which is not a folder";
        return result;
    }
    return {{folder, {}}, true, {}};
}

Place findApplication(const fs::path& root, const Detected& detected) {
    if (detected.layout == Layout::none) return {std::nullopt, detected.why};
    if (detected.layout == Layout::mac) {
        if (auto app = dawApplication(root)) return {std::move(app), {}};
        return {std::nullopt, "no Applications/Ableton Live*.app with a Contents folder under " + root.string()};
    }
    const fs::path ableton = descendFolded(root, {"drive_c", "ProgramData", "Ableton"});
    std::optional<fs::path> best;
    for (const auto& folder : subfolders(ableton)) {
        if (!startsWithLive(folder)) continue;
        if (!childFolded(folder, "Program") && !childFolded(folder, "Resources")) continue;
        if (!best || versionLess(best->filename().string(), folder.filename().string())) best = folder;
    }
    if (best) return {best, {}};
    return {std::nullopt, "no Live program in " + ableton.string() + " (a \"Live <version>\" folder with Program or Resources)"};
}

Place findThemes(const Place& application, Layout layout) {
    if (!application.path) return {std::nullopt, "no application: " + application.missing};
    const fs::path folder = layout == Layout::mac ? dawThemesFolder(*application.path)
                                                  : descendFolded(*application.path, {"Resources", "Themes"});
    if (!isDirectory(folder)) return {std::nullopt, folder.string() + " is not a folder"};
    return {folder, {}};
}

DawRoot currentRoot() {
    const auto setting = Settings::shared().liveRootSetting();
    return findDawRoot(setting ? setting->string() : std::string());
}

Place preferencesPlace(const fs::path& root, const Detected& detected) {
    if (detected.preferences) return {detected.preferences->folder, {}};
    switch (detected.layout) {
    case Layout::none: return {std::nullopt, detected.why};
    case Layout::windows:
        return {std::nullopt, "no Live <version>/Preferences/Preferences.cfg under drive_c/users/*/AppData/Roaming/Ableton "
                              "in " + root.string() + ": Live has not run in this prefix yet"};
    case Layout::mac:
        return {std::nullopt, "no Live <version>/Preferences.cfg in " + dawPreferencesFolder(root).string()};
    }
    return {std::nullopt, detected.why};
}

}  // namespace

std::string_view layoutName(Layout layout) {
    switch (layout) {
    case Layout::none: return "none";
    case Layout::windows: return "windows";
    case Layout::mac: return "mac";
    }
    return "none";
}

Places find() {
    Places places;
    places.root = currentRoot();
    const fs::path& root = places.root.path;
    const Detected detected = detect(root);
    places.layout = detected.layout;
    places.layoutWhy = detected.why;
    places.preferences = preferencesPlace(root, detected);
    places.userLibrary = findUserLibrary(root, detected);
    places.application = findApplication(root, detected);
    places.themes = findThemes(places.application, detected.layout);
    return places;
}

fs::path root() { return currentRoot().path; }

Layout layout() { return detect(root()).layout; }

std::optional<fs::path> newestPreferencesFolder() {
    const auto detected = detect(root());
    if (!detected.preferences) return std::nullopt;
    return detected.preferences->folder;
}

fs::path userLibrary() {
    const fs::path base = root();
    const auto library = findUserLibrary(base, detect(base));
    return library.place.path.value_or(dawDefaultUserLibrary(base));
}

std::optional<fs::path> application() {
    const fs::path base = root();
    return findApplication(base, detect(base)).path;
}

std::optional<fs::path> themesFolder() {
    const fs::path base = root();
    const auto detected = detect(base);
    return findThemes(findApplication(base, detected), detected.layout).path;
}

std::string versionName(const fs::path& preferencesFolder) {
    const fs::path folder = preferencesFolder.has_filename() ? preferencesFolder : preferencesFolder.parent_path();
    if (equalFolded(folder.filename().native(), "Preferences")) return folder.parent_path().filename().string();
    return folder.filename().string();
}

std::string registrationKey(const fs::path& preferencesFolder) {
    return "liveHelperRegistered." + versionName(preferencesFolder);
}

std::optional<std::string> libraryProjectPath(std::string_view text, std::string* why) {
    auto fail = [&](const char* reason) -> std::optional<std::string> {
        if (why != nullptr) *why = reason;
        return std::nullopt;
    };
    const std::size_t open = text.find("<UserLibrary>");
    if (open == std::string_view::npos) return fail("has no <UserLibrary> element");
    const std::size_t close = text.find("</UserLibrary>", open);
    if (close == std::string_view::npos) return fail("has an unclosed <UserLibrary> element");
    const std::string_view element = text.substr(open, close - open);
    static constexpr std::string_view kProjectPath = "<ProjectPath Value=\"";
    const std::size_t at = element.find(kProjectPath);
    if (at == std::string_view::npos) return fail("has no ProjectPath in <UserLibrary>");
    const std::size_t begin = at + kProjectPath.size();
    const std::size_t end = element.find('"', begin);
    if (end == std::string_view::npos) return fail("has an unclosed ProjectPath value");
    if (end == begin) return fail("has an empty ProjectPath");
    // Live writes the path as an XML attribute: "&amp;" in a folder name is "&".
    return LiveSetReader::decodedEntities(element.substr(begin, end - begin));
}

void resetLogForTesting() {
    std::scoped_lock lock(logMutex());
    logged().clear();
}

}  // namespace crestline::LivePlaces
