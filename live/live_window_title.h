// What the title of Live's main window says about the open set. Under Wine
// the window system knows no document path, but Live titles its main window
// "<set>[*] [<project>] - Ableton Live <version>": the set's name, a star
// while it has unsaved changes, the project folder's name, the program.
// Other windows of Live (plug-ins, dialogs) do not end in the program's name
// and answer nothing.
//
// Stateless; any thread. Costs one accessibility request per window.
#pragma once

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

}  // namespace crestline::LiveWindowTitle
