// Where Live's files are on this machine: the DAW root (environment
// CRESTLINE_LIVE_ROOT, else the "liveRoot" setting, else $WINEPREFIX, else
// ~/.wine when it holds drive_c, else the home folder), the layout of Live's
// files under it, and the places that the helper installation, the theme
// reader and `crestline-live places` share.
//
// Two layouts:
// - windows: Live under Wine, the root being the prefix. Preferences in
//   drive_c/users/<user>/AppData/Roaming/Ableton/Live <version>/Preferences
//   (or the older "Application Data"), the default User Library in
//   <user>/Documents/Ableton/User Library (or "My Documents"), the program in
//   drive_c/ProgramData/Ableton/Live <version> with its themes in
//   Resources/Themes. Paths stored in Live's files are Windows paths and are
//   translated through the prefix's dosdevices links.
// - mac: a copy of a Mac's files: Library/Preferences/Ableton/Live <version>,
//   Music/Ableton/User Library, Applications/Ableton Live*.app.
// What is there decides; when both could serve, the one whose newest
// Preferences.cfg is newer wins.
//
// Read anew at every call (the user may change the setting or install
// Live); a call lists a handful of folders. Any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/daw_root.h"

namespace crestline::LivePlaces {

enum class Layout { none, windows, mac };
// "none", "windows", "mac".
std::string_view layoutName(Layout layout);

// A place, or why it is missing.
struct Place {
    std::optional<std::filesystem::path> path;
    std::string missing;  // empty when there is a path
};

struct UserLibrary {
    Place place;
    bool fromLibraryCfg = false;
    std::string libraryCfg;  // why Library.cfg's path was not taken; empty when it was
};

struct Places {
    DawRoot root;
    Layout layout = Layout::none;
    std::string layoutWhy;  // what decided the layout
    Place preferences;      // the newest "Live <version>" preferences folder
    UserLibrary userLibrary;
    Place application;
    Place themes;
};

// Everything at once, for the diagnostics and the application's start.
Places find();

std::filesystem::path root();
Layout layout();

// The preferences folder (the one that holds Preferences.cfg and Library.cfg)
// whose Preferences.cfg has the latest modification date (a missing date
// counts as the distant past); on equal dates the first by name wins.
std::optional<std::filesystem::path> newestPreferencesFolder();

// The User Library: the ProjectPath of Library.cfg (translated into the
// prefix in the Windows layout) joined with "User Library" when that folder
// exists, else the layout's default. With no layout, the Mac default under
// the root (nothing is installed there: see LiveHelper::install).
std::filesystem::path userLibrary();

// Live's program folder, or nothing.
std::optional<std::filesystem::path> application();
// The folder of Live's own theme files, or nothing.
std::optional<std::filesystem::path> themesFolder();

// The version name of a preferences folder: its own name in the Mac layout
// ("Live 12.1"), its parent's in the Windows one (".../Live 12.1.5/Preferences"
// is "Live 12.1.5").
std::string versionName(const std::filesystem::path& preferencesFolder);
// The setting that remembers the registration in that folder:
// "liveHelperRegistered." + versionName.
std::string registrationKey(const std::filesystem::path& preferencesFolder);

// ---- Internal steps, open for tests and the fuzz targets ---------------
// The first <ProjectPath Value="..."> inside <UserLibrary>...</UserLibrary>,
// entities decoded; nothing (with `why`) when absent or empty.
std::optional<std::string> libraryProjectPath(std::string_view libraryCfg, std::string* why = nullptr);
// Forgets which translation failures were logged already.
void resetLogForTesting();

}  // namespace crestline::LivePlaces
