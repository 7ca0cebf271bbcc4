// The commands of crestline-live. Each takes the arguments after its name
// and returns the process exit code: 0 done, 1 failed, 2 bad usage.
#pragma once

#include <span>
#include <string>

namespace crestline::live_tool {

// The locators, time signatures and saved position of a set file, as JSON.
int set(std::span<const std::string> args);
// Live's current theme colours as JSON, or null.
int theme(std::span<const std::string> args);
// Registers the helper in a free Control Surface slot of Live's preferences.
int registerHelper(std::span<const std::string> args);
// Installs or updates the helper script in the User Library.
int install(std::span<const std::string> args);
// Where Live's files are and what was found there, as JSON.
int places(std::span<const std::string> args);

// Prints every helper message and, once a second, the beat clock.
int listen(std::span<const std::string> args);
// Plays the helper script: sends its messages while a transport runs.
int simulate(std::span<const std::string> args);

}  // namespace crestline::live_tool
