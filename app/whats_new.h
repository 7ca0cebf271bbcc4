// The what's-new notice after an update, from the shipped Markdown resource
// "Wat is er nieuw.md": a "## <version>" line opens a version's section, a
// "> " line in it adds to the introduction and a "- " line is one item.
//
// A first-time user is never shown it (the version is stored instead); a
// user who had used an earlier version sees it once. The controller decides
// when (see its showWhatsNewIfDue) and stores "lastSeenVersion" before
// `show`. Main thread only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/service_ports.h"

namespace crestline {

class Settings;

namespace WhatsNew {

inline constexpr const char* kLastSeenKey = "lastSeenVersion";
inline constexpr const char* kResourceName = "Wat is er nieuw.md";
inline constexpr std::uint64_t kMaxResourceBytes = 1024 * 1024;

struct Note {
    std::string intro;
    std::vector<std::string> items;
    bool operator==(const Note&) const = default;
};

std::string currentVersion();

// Pending when the stored version differs from `version`; without one, a
// first-time user gets `version` stored and no notice, a returning user the
// notice.
bool isPending(Settings& settings, bool hadUsedBefore, std::string_view version);

// The section of `version` in `markdown`; nothing without one.
std::optional<Note> note(std::string_view markdown, std::string_view version);
// The section of the current version in the shipped resource.
std::optional<Note> note();

// The product site's page of the updates.
std::string pageURL(std::string_view site);

// The alert: "Crestline is updated to <version>", the note (or a sentence
// pointing to the site), buttons "OK" and "What's New".
Alert alert(const std::optional<Note>& note, std::string_view version, std::string_view site);

// Shows the notice; "What's New" opens the page.
void show(Alerts& alerts, WebPages& pages, std::string_view site);

}  // namespace WhatsNew
}  // namespace crestline
