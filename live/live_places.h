// Where Live's files are on this machine: the DAW root (environment
// CRESTLINE_LIVE_ROOT, else the "liveRoot" setting, else the home folder)
// and the places under it that the helper installation and the theme
// reader share. Read anew at every call: the user may change the setting.
#pragma once

#include <filesystem>
#include <optional>

namespace crestline::LivePlaces {

std::filesystem::path root();

// The entry of "Library/Preferences/Ableton" whose name begins with "Live "
// and whose Preferences.cfg exists with the latest modification date (a
// missing date counts as the distant past); on equal dates the first by name
// wins. Nothing when there is none.
std::optional<std::filesystem::path> newestPreferencesFolder();

// Live's application folder under the root, or nothing.
std::optional<std::filesystem::path> application();

}  // namespace crestline::LivePlaces
