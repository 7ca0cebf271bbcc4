#include "live/live_window_title.h"

namespace crestline::LiveWindowTitle {
namespace {

constexpr double kTitleTimeoutSeconds = 0.5;
constexpr std::string_view kProgramSeparator = " - Ableton Live";
// Window titles are short; a longer one is not Live's.
constexpr std::size_t kMaxTitleBytes = 4096;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<TitledSet> parse(std::string_view title) {
    if (title.size() > kMaxTitleBytes) return std::nullopt;
    const std::size_t at = title.rfind(kProgramSeparator);
    if (at == std::string_view::npos) return std::nullopt;
    TitledSet result;
    result.application = std::string(trimmed(title.substr(at + 3)));
    std::string_view head = trimmed(title.substr(0, at));
    if (head.ends_with(']')) {
        const std::size_t open = head.rfind('[');
        if (open != std::string_view::npos) {
            result.project = std::string(trimmed(head.substr(open + 1, head.size() - open - 2)));
            head = trimmed(head.substr(0, open));
        }
    }
    if (head.ends_with('*')) {
        result.unsavedChanges = true;
        head = trimmed(head.substr(0, head.size() - 1));
    }
    if (head.empty()) return std::nullopt;
    result.set = std::string(head);
    return result;
}

std::optional<TitledSet> openSet(int pid, Accessibility& layer) {
    const AXElementRef app = layer.application(pid);
    if (!app) return std::nullopt;
    app->setMessagingTimeout(kTitleTimeoutSeconds);
    const auto windows = axElements(*app, "AXWindows");
    if (!windows) return std::nullopt;
    for (const auto& window : *windows) {
        if (!window) continue;
        if (const auto title = axString(*window, "AXTitle")) {
            if (auto set = parse(*title)) return set;
        }
    }
    return std::nullopt;
}

}  // namespace crestline::LiveWindowTitle
