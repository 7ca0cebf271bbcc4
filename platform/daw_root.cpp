#include "platform/daw_root.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace crestline {
namespace {

namespace fs = std::filesystem;

// Windows itself refuses longer paths (with the "\\?\" form).
constexpr std::size_t kMaxWindowsPathChars = 32767;

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool beginsWithAbletonLive(const std::string& name) {
    static constexpr std::string_view prefix = "ableton live";
    return name.size() >= prefix.size() && equalFolded(std::string_view(name).substr(0, prefix.size()), prefix);
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isDirectory(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// What Windows forbids in a file name, besides the separators.
std::optional<std::string> forbiddenIn(std::string_view component) {
    for (const char c : component) {
        if (static_cast<unsigned char>(c) < 0x20) return "a control character in \"" + std::string(component) + "\"";
        if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
            return std::string("the character ") + c + " in \"" + std::string(component) + "\"";
        }
    }
    return std::nullopt;
}

}  // namespace

DawRoot findDawRoot(std::string_view setting) {
    if (const char* root = std::getenv("CRESTLINE_LIVE_ROOT"); root != nullptr && root[0] != '\0') {
        return {root, DawRootSource::environment};
    }
    if (!setting.empty()) return {fs::path(setting), DawRootSource::setting};
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && prefix[0] != '\0') {
        return {prefix, DawRootSource::winePrefix};
    }
    const fs::path home = homeFolder();
    if (isDirectory(home / ".wine" / "drive_c")) return {home / ".wine", DawRootSource::defaultWinePrefix};
    return {home, DawRootSource::home};
}

std::filesystem::path resolveDawRoot(std::string_view setting) { return findDawRoot(setting).path; }

std::string_view dawRootSourceName(DawRootSource source) {
    switch (source) {
    case DawRootSource::environment: return "CRESTLINE_LIVE_ROOT";
    case DawRootSource::setting: return "liveRoot";
    case DawRootSource::winePrefix: return "WINEPREFIX";
    case DawRootSource::defaultWinePrefix: return "~/.wine";
    case DawRootSource::home: return "home";
    }
    return "home";
}

std::filesystem::path dawPreferencesFolder(const std::filesystem::path& root) {
    return root / "Library" / "Preferences" / "Ableton";
}

std::filesystem::path dawDefaultUserLibrary(const std::filesystem::path& root) {
    return root / "Music" / "Ableton" / "User Library";
}

std::optional<std::filesystem::path> dawApplication(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(root / "Applications", error), end; !error && it != end;
         it.increment(error)) {
        if (beginsWithAbletonLive(it->path().filename().string()) && isDirectory(it->path() / "Contents")) {
            found.push_back(it->path());
        }
    }
    if (found.empty()) return std::nullopt;
    return *std::max_element(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return versionLess(a.filename().string(), b.filename().string());
    });
}

std::filesystem::path dawThemesFolder(const std::filesystem::path& application) {
    return application / "Contents" / "App-Resources" / "Themes";
}

bool versionLess(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            // Compare by value without overflow: strip leading zeros, then length, then text.
            std::string_view x = a.substr(i, ei - i), y = b.substr(j, ej - j);
            while (x.size() > 1 && x.front() == '0') x.remove_prefix(1);
            while (y.size() > 1 && y.front() == '0') y.remove_prefix(1);
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool equalFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::optional<fs::path> childFolded(const fs::path& folder, std::string_view name) {
    if (name.empty()) return std::nullopt;
    std::error_code error;
    const fs::path exact = folder / fs::path(std::string(name));
    if (fs::exists(fs::symlink_status(exact, error))) return exact;
    std::optional<fs::path> best;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& entry = it->path();
        if (equalFolded(entry.filename().native(), name) && (!best || entry.filename() < best->filename())) best = entry;
    }
    return best;
}

fs::path descendFolded(const fs::path& base, const std::vector<std::string>& components) {
    fs::path at = base;
    bool exists = true;
    for (const auto& component : components) {
        if (exists) {
            if (const auto child = childFolded(at, component)) {
                at = *child;
                continue;
            }
            exists = false;
        }
        at /= component;
    }
    return at;
}

std::vector<fs::path> subfolders(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (isDirectory(it->path())) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

WindowsPath parseWindowsPath(std::string_view text) {
    WindowsPath result;
    if (text.size() > kMaxWindowsPathChars) {
        result.why = "longer than Windows allows";
        return result;
    }
    if (text.size() >= 4 && isSeparator(text[0]) && isSeparator(text[1]) && text[2] == '?' && isSeparator(text[3])) {
        text.remove_prefix(4);
    }
    if (text.empty()) {
        result.why = "empty";
        return result;
    }
    if (text.size() >= 2 && isSeparator(text[0]) && isSeparator(text[1])) {
        result.why = "a network path, not on a drive";
        return result;
    }
    if (text.size() < 2 || !std::isalpha(static_cast<unsigned char>(text[0])) || text[1] != ':') {
        result.why = "not a Windows path with a drive letter";
        return result;
    }
    if (text.size() > 2 && !isSeparator(text[2])) {
        result.why = "relative to the drive's current folder";
        return result;
    }
    if (text.size() == 2) {
        result.why = "a drive without a folder";
        return result;
    }
    std::size_t at = 3;
    while (at <= text.size()) {
        std::size_t end = at;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        const std::string_view component = text.substr(at, end - at);
        at = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") {
            if (!result.components.empty()) result.components.pop_back();
            continue;
        }
        if (const auto forbidden = forbiddenIn(component)) {
            result.components.clear();
            result.why = *forbidden;
            return result;
        }
        result.components.emplace_back(component);
    }
    result.drive = lower(text[0]);
    return result;
}

std::optional<fs::path> wineDrive(const fs::path& prefix, char drive, std::string* why) {
    const std::string name = std::string(1, lower(drive)) + ":";
    const fs::path dosdevices = prefix / "dosdevices";
    std::error_code error;
    if (const auto link = childFolded(dosdevices, name)) {
        fs::path target = *link;
        if (fs::is_symlink(*link, error)) {
            target = fs::read_symlink(*link, error);
            if (error) target.clear();
            if (!target.empty() && target.is_relative()) target = (dosdevices / target).lexically_normal();
        }
        if (!target.empty() && isDirectory(target)) return target;
        if (why != nullptr) *why = "drive " + name + " leads to " + target.string() + ", which is not a folder";
        return std::nullopt;
    }
    if (lower(drive) == 'c' && isDirectory(prefix / "drive_c")) return prefix / "drive_c";
    if (why != nullptr) *why = "drive " + name + " is not mapped in " + dosdevices.string();
    return std::nullopt;
}

Translation translateWindowsPath(const fs::path& prefix, std::string_view windowsPath) {
    const WindowsPath parsed = parseWindowsPath(windowsPath);
    if (parsed.drive == 0) return {std::nullopt, parsed.why};
    std::string why;
    const auto drive = wineDrive(prefix, parsed.drive, &why);
    if (!drive) return {std::nullopt, why};
    return {descendFolded(*drive, parsed.components), {}};
}

std::vector<fs::path> wineUserFolders(const fs::path& prefix) {
    std::vector<fs::path> users;
    const auto usersFolder = descendFolded(prefix, {"drive_c", "users"});
    for (auto& folder : subfolders(usersFolder)) {
        if (!equalFolded(folder.filename().native(), "Public")) users.push_back(std::move(folder));
    }
    return users;
}

}  // namespace crestline
