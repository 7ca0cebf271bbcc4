// Updates and moving the program: on Linux both belong to the package
// manager. The updater never finds a newer version by itself
// (`availableVersion` stays empty, so the tray offers no update), and
// "Check for Updates…" opens the product site's download page. There is no
// folder to move the program into, so that offer never happens.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/service_ports.h"

namespace crestline {

class Updater {
public:
    const std::optional<std::string>& availableVersion() const { return availableVersion_; }
    static std::string downloadPage(std::string_view site) { return std::string(site) + "/download"; }
    void checkForUpdates(WebPages& pages, std::string_view site) const { pages.open(downloadPage(site)); }

private:
    std::optional<std::string> availableVersion_;
};

namespace MoveToApplications {
// Never: an installed copy lives where the package put it.
inline bool offerIfNeeded() { return false; }
}  // namespace MoveToApplications

}  // namespace crestline
