// Where the DAW's files are. The paths Live uses on its home platform
// ("Library/Preferences/Ableton", "Music/Ableton/User Library", the
// application's "Contents/App-Resources/Themes") are resolved under one root
// folder, so that a copy of a user's files or a Wine prefix serves as well
// as a home folder.
//
// The root is, first found: the environment variable CRESTLINE_LIVE_ROOT,
// the stored setting (handed in by the caller: platform does not read
// settings), the home folder ($HOME, else the password database).
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace crestline {

std::filesystem::path resolveDawRoot(std::string_view setting);

// Fixed places under a root.
std::filesystem::path dawPreferencesFolder(const std::filesystem::path& root);  // Library/Preferences/Ableton
std::filesystem::path dawDefaultUserLibrary(const std::filesystem::path& root);  // Music/Ableton/User Library

// Live's application: the entry of "Applications" under the root whose name
// begins with "Ableton Live" (any case) and which holds a "Contents" folder;
// of several, the highest version by name ("Ableton Live 12 Suite.app"
// before "Ableton Live 9 Suite.app"). Nothing when there is none.
std::optional<std::filesystem::path> dawApplication(const std::filesystem::path& root);

// The application's theme folder: "Contents/App-Resources/Themes".
std::filesystem::path dawThemesFolder(const std::filesystem::path& application);

// Orders names the way people read versions: runs of digits compare by
// value ("Live 9" < "Live 12").
bool versionLess(std::string_view a, std::string_view b);

}  // namespace crestline
