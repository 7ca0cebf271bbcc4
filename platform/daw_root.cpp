#include "platform/daw_root.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace crestline {
namespace {

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

bool beginsWithAbletonLive(const std::string& name) {
    static constexpr std::string_view prefix = "ableton live";
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::filesystem::path resolveDawRoot(std::string_view setting) {
    if (const char* root = std::getenv("CRESTLINE_LIVE_ROOT"); root != nullptr && root[0] != '\0') return root;
    if (!setting.empty()) return std::filesystem::path(setting);
    return homeFolder();
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
        std::error_code ignored;
        if (beginsWithAbletonLive(it->path().filename().string()) &&
            std::filesystem::is_directory(it->path() / "Contents", ignored)) {
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

}  // namespace crestline
