// Shared by the crestline-live commands that read or write Live's files
// (set, theme, register, install): exit codes, the one-line error, and the
// --root option that points the DAW root at a folder for this process.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace crestline::live_tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // the command ran, the outcome is a failure
inline constexpr int kExitBadInput = 2;  // bad arguments, or a file that cannot be read

// Takes "--root DIR" out of `args` and sets $CRESTLINE_LIVE_ROOT to DIR.
// False (and a message on `err`) when DIR is missing.
bool takeRootOption(std::vector<std::string>& args, std::ostream& err);

// "crestline-live: <text>" on `err`; returns `code`.
int fail(std::ostream& err, int code, std::string_view text);

}  // namespace crestline::live_tool
