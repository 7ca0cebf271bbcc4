#include "app/login_item.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "app/app_paths.h"
#include "platform/files.h"
#include "platform/log.h"
#include "settings/settings.h"

namespace crestline {
namespace {

constexpr const char* kFailure = "Crestline: inlogonderdeel aanpassen mislukt: ";

// An Exec argument quoted as desktop entries want it: inside double quotes
// the characters ", `, $ and \ are escaped with a backslash; and since the
// value is itself a string, that backslash is written twice.
std::string quotedArgument(const std::string& text) {
    bool plain = !text.empty();
    for (char c : text) {
        if (std::strchr(" \t\n\"'\\><~|&;$*?#()`=%", c) != nullptr) plain = false;
    }
    if (plain) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$') {
            out += "\\\\";
        } else if (c == '\\') {
            out += "\\\\\\";
        } else if (c == '%') {
            out += '%';  // a literal percent sign is written twice
        }
        out += c;
    }
    return out + "\"";
}

}  // namespace

LoginItem::LoginItem(std::filesystem::path autostartFolder, std::filesystem::path executable)
    : folder_(std::move(autostartFolder)), executable_(std::move(executable)) {}

std::filesystem::path LoginItem::defaultFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::filesystem::path(xdg) / "autostart";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/") / ".config" / "autostart";
}

bool LoginItem::isEnabled() const {
    std::error_code error;
    return std::filesystem::is_regular_file(entryPath(), error);
}

std::string LoginItem::entryText() const {
    const std::string program = executable_.empty() ? std::string("crestline") : executable_.string();
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Crestline\n"
           "Comment=Loudness meter bar for Ableton Live\n"
           "Exec=" + quotedArgument(program) + " --autostart\n"
           "Icon=app.crestline.Crestline\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool LoginItem::setEnabled(bool on) {
    std::error_code error;
    if (on) {
        std::filesystem::create_directories(folder_, error);
        if (error) {
            log(kFailure + error.message());
            return false;
        }
        if (!writeFileAtomically(entryPath(), entryText(), 0644)) {
            log(kFailure + std::string(std::strerror(errno)));
            return false;
        }
        return true;
    }
    if (!std::filesystem::remove(entryPath(), error) && error) {
        log(kFailure + error.message());
        return false;
    }
    return true;
}

void LoginItem::openAtLoginByDefault(Settings& settings) {
    if (settings.boolean(kDefaultedKey).value_or(false) || !isInstalledCopy(executable_)) return;
    settings.setBool(kDefaultedKey, true);
    if (!isEnabled()) setEnabled(true);
}

}  // namespace crestline
