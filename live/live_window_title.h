// What the title of Live's main window says about the open set. Under Wine
// the window system knows no document path, but Live titles its main window
// "<set>[*] [<project>] - Ableton Live <version>": the set's name, a star
// while it has unsaved changes, the project folder's name, the program.
// Other windows of Live (plug-ins, dialogs) do not end in the program's name
// and answer nothing.
//
// Stateless; any thread. Costs one accessibility request per window.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/accessibility.h"

namespace crestline::LiveWindowTitle {

struct TitledSet {
    std::string set;          // "My Song"; "Untitled" for a set never saved
    std::string project;      // "My Song Project"; empty when the title names none
    std::string application;  // "Ableton Live 12 Suite"
    bool unsavedChanges = false;
    bool operator==(const TitledSet&) const = default;
};

std::optional<TitledSet> parse(std::string_view title);

// The set named by the first of Live's windows (process `pid`) whose title
// parses, asked with a 0.5-second time-out.
std::optional<TitledSet> openSet(int pid, Accessibility& layer);

// The file of a titled set under the DAW root, where Live keeps sets: a path
// of Live's recent documents in the newest Preferences.cfg that ends in
// "<project>\<set>.als" (a Windows path, translated into the prefix), else
// "<project>/<set>.als" in, or one folder below, the user's Documents,
// Desktop and Music and the User Library's parent. Nothing for a set never
// saved (no project) or not found. Reads Preferences.cfg and lists a few
// folders: call it when the title changes, not on every tick.
std::optional<std::filesystem::path> findSetFile(const TitledSet& set);

}  // namespace crestline::LiveWindowTitle
