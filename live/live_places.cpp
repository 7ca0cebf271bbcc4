#include "live/live_places.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/daw_root.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace crestline::LivePlaces {

std::filesystem::path root() { return resolveDawRoot(Settings::shared().liveRoot().string()); }

std::optional<std::filesystem::path> newestPreferencesFolder() {
    std::vector<std::filesystem::path> folders;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dawPreferencesFolder(root()), error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().starts_with("Live ")) folders.push_back(it->path());
    }
    // Directory order is arbitrary here: sort so that ties are decided the
    // same way every time.
    std::sort(folders.begin(), folders.end());
    std::optional<std::filesystem::path> best;
    std::chrono::system_clock::time_point bestDate = std::chrono::system_clock::time_point::min();
    for (const auto& folder : folders) {
        const auto stamp = fileStamp(folder / "Preferences.cfg");
        if (!stamp) continue;
        if (!best || stamp->modified > bestDate) {
            best = folder;
            bestDate = stamp->modified;
        }
    }
    return best;
}

std::optional<std::filesystem::path> application() { return dawApplication(root()); }

}  // namespace crestline::LivePlaces
