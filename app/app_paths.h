// Where the running program and its shipped files are. Resources live in
// share/crestline beside the program's bin folder, both in the build tree
// (build/bin, build/share/crestline) and in an installed copy
// (/usr/bin, /usr/share/crestline); $CRESTLINE_RESOURCE_DIR overrides.
#pragma once

#include <filesystem>

namespace crestline {

// /proc/self/exe resolved; empty when it cannot be read.
std::filesystem::path executablePath();
std::filesystem::path resourceFolder();

// An installed copy runs from under /usr or /opt (the counterpart of an
// applications folder); a build tree or a home folder does not.
bool isInstalledCopy(const std::filesystem::path& executable);

}  // namespace crestline
