// Where the DAW's files are. Live's places are resolved under one root
// folder: a Wine prefix, in which Live keeps the Windows layout
// (drive_c/users/<user>/AppData/Roaming/Ableton, drive_c/ProgramData/Ableton),
// or a folder holding a copy of a Mac's files ("Library/Preferences/Ableton",
// "Music/Ableton/User Library", the application's
// "Contents/App-Resources/Themes"). Which layout a root has is decided above
// this layer (live/live_places); here are the file-system pieces.
//
// The root is, first found: the environment variable CRESTLINE_LIVE_ROOT,
// the stored setting (handed in by the caller: platform does not read
// settings), $WINEPREFIX, ~/.wine when it holds drive_c, the home folder
// ($HOME, else the password database).
//
// Every function reads the disk anew and is safe on any thread. Folder
// names inside a prefix are matched without regard to ASCII case, as Windows
// does; the exact spelling wins when both exist.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crestline {

enum class DawRootSource { environment, setting, winePrefix, defaultWinePrefix, home };

struct DawRoot {
    std::filesystem::path path;
    DawRootSource source = DawRootSource::home;
};

// `setting` empty: no stored root.
DawRoot findDawRoot(std::string_view setting);
std::filesystem::path resolveDawRoot(std::string_view setting);
// "CRESTLINE_LIVE_ROOT", "liveRoot", "WINEPREFIX", "~/.wine", "home".
std::string_view dawRootSourceName(DawRootSource source);

// ---- The Mac layout under a root ------------------------------------------
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

// ---- Wine prefixes ---------------------------------------------------------

// Equal but for ASCII case ("AppData" and "appdata").
bool equalFolded(std::string_view a, std::string_view b);

// The entry of `folder` named `name` without regard to ASCII case; the exact
// spelling first, else the first match by name. Nothing when none exists.
std::optional<std::filesystem::path> childFolded(const std::filesystem::path& folder, std::string_view name);

// `components` below `base`, each matched as childFolded does; from the first
// one that does not exist on, the rest is appended as written.
std::filesystem::path descendFolded(const std::filesystem::path& base, const std::vector<std::string>& components);

// The entries of `folder` (folders or links to folders), sorted by name.
std::vector<std::filesystem::path> subfolders(const std::filesystem::path& folder);

// A Windows path as Live stores it, taken apart: "C:\Users\me\Music" is drive
// 'c' with the components "Users", "me", "Music". "." is dropped and ".."
// climbs (never above the drive); "/" separates as well as "\"; a leading
// "\\?\" is accepted. `why` says what is wrong when it is not an absolute
// drive path (a network path, a relative one, a name Windows forbids).
struct WindowsPath {
    char drive = 0;  // 'a'...'z'; 0 when not a usable path
    std::vector<std::string> components;
    std::string why;
};
WindowsPath parseWindowsPath(std::string_view text);

// The prefix's folder for a drive letter: the dosdevices link "<letter>:"
// (relative links resolve inside dosdevices; "z:" usually leads to "/"); for
// 'c' without a link, drive_c. Nothing, with `why`, when the drive is not
// mapped.
std::optional<std::filesystem::path> wineDrive(const std::filesystem::path& prefix, char drive, std::string* why = nullptr);

// A Windows path translated into the prefix: the drive through dosdevices,
// the components matched without regard to case. The result may not exist
// (a folder Live has not made yet). Nothing, with `why`, when the path
// cannot be translated.
struct Translation {
    std::optional<std::filesystem::path> path;
    std::string why;
};
Translation translateWindowsPath(const std::filesystem::path& prefix, std::string_view windowsPath);

// The user folders of a prefix: every folder of drive_c/users but "Public",
// sorted by name.
std::vector<std::filesystem::path> wineUserFolders(const std::filesystem::path& prefix);

}  // namespace crestline
