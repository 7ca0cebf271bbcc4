// Opening at login as an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/crestline.desktop, which starts the program
// with --autostart (so it knows it was launched at login and waits for Live
// instead of opening a window on its own). The entry is written atomically
// and removed to turn the item off; a failure is logged with the error.
//
// The default is applied once: on the first start of an installed copy
// (under /usr or /opt) the entry is written, and "openAtLoginDefaulted"
// keeps it from being written again after the user turned it off. A copy
// run from a build tree or a download folder is left alone.
//
// Main thread only.
#pragma once

#include <filesystem>
#include <string>

namespace crestline {

class Settings;

class LoginItem {
public:
    static constexpr const char* kDefaultedKey = "openAtLoginDefaulted";
    static constexpr const char* kEntryName = "crestline.desktop";

    LoginItem(std::filesystem::path autostartFolder, std::filesystem::path executable);
    // $XDG_CONFIG_HOME/autostart (~/.config/autostart).
    static std::filesystem::path defaultFolder();

    std::filesystem::path entryPath() const { return folder_ / kEntryName; }
    bool isEnabled() const;
    // Writes or removes the entry; false (and a log line) on failure.
    bool setEnabled(bool on);
    bool toggle() { return setEnabled(!isEnabled()); }
    // The entry's text for this executable.
    std::string entryText() const;

    // At start-up: once, and only for an installed copy, turn it on.
    void openAtLoginByDefault(Settings& settings);

private:
    std::filesystem::path folder_;
    std::filesystem::path executable_;
};

}  // namespace crestline
