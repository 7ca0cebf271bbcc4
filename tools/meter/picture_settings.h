// The picture's own choices over a settings store: `--set KEY=VALUE`
// overrides (the value in JSON, of the key's stored type and within its
// range) and the `--modules` order. Meant for a store that lives in memory,
// so the user's settings file is never changed. Only the keys that shape
// the bar are taken.
#pragma once

#include <string>
#include <vector>

#include "tools/meter/meter_options.h"

namespace crestline {
class Settings;
}

namespace crestline::meter_tool {

// "KEY=VALUE" into the store; an error line naming the option, or "".
std::string applySetting(const std::string& assignment, Settings& settings);
// "spectrum,meter,imager" as the module order; an error line, or "".
std::string applyModules(const std::string& list, Settings& settings);
// The overrides, then the module order.
std::string applyPictureChoices(const MeterOptions& options, Settings& settings);

}  // namespace crestline::meter_tool
