// The commands of crestline-live. Each takes the arguments after its name
// and returns the process exit code: 0 done, 1 failed, 2 bad usage.
#pragma once

#include <span>
#include <string>

namespace crestline::live_tool {

// Prints every helper message and, once a second, the beat clock.
int listen(std::span<const std::string> args);
// Plays the helper script: sends its messages while a transport runs.
int simulate(std::span<const std::string> args);

}  // namespace crestline::live_tool
