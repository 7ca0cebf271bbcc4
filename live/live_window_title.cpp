#include "live/live_window_title.h"

#include <cctype>
#include <vector>

#include "live/live_places.h"
#include "live/live_theme.h"
#include "platform/daw_root.h"
#include "platform/files.h"

namespace crestline::LiveWindowTitle {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMaxPreferencesBytes = 16ull << 20;
// Windows paths are shorter than this in practice (MAX_PATH is 260).
constexpr std::size_t kMaxRecentPathChars = 1024;

constexpr double kTitleTimeoutSeconds = 0.5;
constexpr std::string_view kProgramSeparator = " - Ableton Live";
// Window titles are short; a longer one is not Live's.
constexpr std::size_t kMaxTitleBytes = 4096;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool isFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The Windows path that ends at `end` in the preferences text: back to the
// nearest "X:\" over characters a path may hold.
std::optional<std::string_view> pathEndingAt(std::string_view text, std::size_t end) {
    const std::size_t floor = end > kMaxRecentPathChars ? end - kMaxRecentPathChars : 0;
    for (std::size_t at = end; at > floor; --at) {
        const char c = text[at - 1];
        if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
        if (c == ':' && at >= 2 && at < end && (text[at] == '\\' || text[at] == '/') &&
            std::isalpha(static_cast<unsigned char>(text[at - 2]))) {
            return text.substr(at - 2, end - (at - 2));
        }
    }
    return std::nullopt;
}

std::optional<fs::path> fromRecentDocuments(const fs::path& root, const std::string& tail) {
    const auto folder = LivePlaces::newestPreferencesFolder();
    if (!folder) return std::nullopt;
    const auto bytes = readFileBytes(*folder / "Preferences.cfg", kMaxPreferencesBytes);
    if (!bytes) return std::nullopt;
    const std::string text = LiveTheme::preferencesText(*bytes);
    for (std::size_t at = text.find(tail); at != std::string::npos; at = text.find(tail, at + 1)) {
        const std::size_t end = at + tail.size();
        const auto windows = pathEndingAt(text, end);
        if (!windows || windows->size() <= tail.size()) continue;
        const char before = (*windows)[windows->size() - tail.size() - 1];
        if (before != '\\' && before != '/') continue;  // "<project>" is a whole folder name
        const auto translated = translateWindowsPath(root, *windows);
        if (translated.path && isFile(*translated.path)) return translated.path;
    }
    return std::nullopt;
}

std::optional<fs::path> inFolder(const fs::path& base, const TitledSet& set, int depth) {
    if (const auto project = childFolded(base, set.project)) {
        if (const auto file = childFolded(*project, set.set + ".als"); file && isFile(*file)) return file;
    }
    if (depth == 0) return std::nullopt;
    for (const auto& folder : subfolders(base)) {
        if (auto found = inFolder(folder, set, depth - 1)) return found;
    }
    return std::nullopt;
}

}  // namespace

std::optional<TitledSet> parse(std::string_view title) {
    if (title.size() > kMaxTitleBytes) return std::nullopt;
    const std::size_t at = title.rfind(kProgramSeparator);
    if (at == std::string_view::npos) return std::nullopt;
    TitledSet result;
    result.application = std::string(trimmed(title.substr(at + 3)));
    std::string_view head = trimmed(title.substr(0, at));
    if (head.ends_with(']')) {
        const std::size_t open = head.rfind('[');
        if (open != std::string_view::npos) {
            result.project = std::string(trimmed(head.substr(open + 1, head.size() - open - 2)));
            head = trimmed(head.substr(0, open));
        }
    }
    if (head.ends_with('*')) {
        result.unsavedChanges = true;
        head = trimmed(head.substr(0, head.size() - 1));
    }
    if (head.empty()) return std::nullopt;
    result.set = std::string(head);
    return result;
}

std::optional<TitledSet> openSet(int pid, Accessibility& layer) {
    const AXElementRef app = layer.application(pid);
    if (!app) return std::nullopt;
    app->setMessagingTimeout(kTitleTimeoutSeconds);
    const auto windows = axElements(*app, "AXWindows");
    if (!windows) return std::nullopt;
    for (const auto& window : *windows) {
        if (!window) continue;
        if (const auto title = axString(*window, "AXTitle")) {
            if (auto set = parse(*title)) return set;
        }
    }
    return std::nullopt;
}

std::optional<fs::path> findSetFile(const TitledSet& set) {
    if (set.project.empty() || set.set.empty()) return std::nullopt;
    const auto places = LivePlaces::find();
    const fs::path& root = places.root.path;
    if (places.layout == LivePlaces::Layout::windows) {
        if (auto found = fromRecentDocuments(root, set.project + "\\" + set.set + ".als")) return found;
    }
    std::vector<fs::path> bases;
    if (places.userLibrary.place.path) bases.push_back(places.userLibrary.place.path->parent_path());
    std::vector<fs::path> homes;
    if (places.layout == LivePlaces::Layout::windows) {
        homes = wineUserFolders(root);
    } else if (places.layout == LivePlaces::Layout::mac) {
        homes = {root};
    }
    for (const auto& home : homes) {
        for (const char* folder : {"Documents", "My Documents", "Desktop", "Music", "My Music"}) {
            if (const auto base = childFolded(home, folder)) bases.push_back(*base);
        }
    }
    for (const auto& base : bases) {
        if (auto found = inFolder(base, set, 1)) return found;
    }
    return std::nullopt;
}

}  // namespace crestline::LiveWindowTitle
