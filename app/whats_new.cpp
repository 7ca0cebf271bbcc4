#include "app/whats_new.h"

#include <cctype>

#include "app/app_paths.h"
#include "app/app_version.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace crestline::WhatsNew {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) text.remove_suffix(1);
    return text;
}

}  // namespace

std::string currentVersion() { return std::string(kAppVersion); }

bool isPending(Settings& settings, bool hadUsedBefore, std::string_view version) {
    if (const auto seen = settings.string(kLastSeenKey)) return *seen != version;
    if (!hadUsedBefore) {
        settings.setString(kLastSeenKey, version);
        return false;
    }
    return true;
}

std::optional<Note> note(std::string_view markdown, std::string_view version) {
    std::optional<Note> found;
    bool inSection = false;
    std::size_t at = 0;
    while (at <= markdown.size()) {
        std::size_t end = markdown.find('\n', at);
        if (end == std::string_view::npos) end = markdown.size();
        std::string_view line = markdown.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        at = end + 1;
        if (line.substr(0, 3) == "## ") {
            inSection = trimmed(line.substr(3)) == version;
            if (inSection && !found) found = Note{};
            continue;
        }
        if (!inSection) continue;
        if (line.substr(0, 1) == ">") {
            const std::string_view text = trimmed(line.substr(1));
            if (!text.empty()) found->intro += (found->intro.empty() ? "" : " ") + std::string(text);
        } else if (line.substr(0, 2) == "- ") {
            found->items.emplace_back(line.substr(2));
        }
    }
    return found;
}

std::optional<Note> note() {
    const auto text = readFileBytes(resourceFolder() / kResourceName, kMaxResourceBytes);
    if (!text) return std::nullopt;
    return note(*text, currentVersion());
}

std::string pageURL(std::string_view site) { return std::string(site) + "#updates"; }

Alert alert(const std::optional<Note>& note, std::string_view version, std::string_view site) {
    std::string information;
    if (note) {
        information = note->intro;
        if (!note->items.empty()) {
            information += information.empty() ? "What's new:" : "\n\nWhat's new:";
            for (const std::string& item : note->items) information += "\n" + item;
        }
    } else {
        information = "Read what changed on " + std::string(site) + ".";
    }
    return Alert{"Crestline is updated to " + std::string(version), information, "OK", "What's New"};
}

void show(Alerts& alerts, WebPages& pages, std::string_view site) {
    const std::string url = pageURL(site);
    alerts.show(alert(note(), currentVersion(), site), [&pages, url](AlertAnswer answer) {
        if (answer == AlertAnswer::second) pages.open(url);
    });
}

}  // namespace crestline::WhatsNew
