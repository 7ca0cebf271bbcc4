// Library.cfg as Live writes it (seeded from corpus/library_cfg): the User
// Library's ProjectPath and its reading as a Windows path. A path found is
// never empty; a parsed Windows path names a drive and only plain components
// (no separators, no "." or "..", nothing Windows forbids), or says why not.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "live/live_places.h"
#include "platform/daw_root.h"

using namespace crestline;

namespace {

void checkParsed(const WindowsPath& parsed) {
    if (parsed.drive == 0) {
        if (parsed.why.empty() || !parsed.components.empty()) std::abort();
        return;
    }
    if (parsed.drive < 'a' || parsed.drive > 'z' || !parsed.why.empty()) std::abort();
    for (const auto& component : parsed.components) {
        if (component.empty() || component == "." || component == "..") std::abort();
        if (component.find_first_of("\\/<>:\"|?*") != std::string::npos) std::abort();
        for (const char c : component) {
            if (static_cast<unsigned char>(c) < 0x20) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto path = LivePlaces::libraryProjectPath(text, &why);
    if (path.has_value() == !why.empty()) std::abort();
    if (path) {
        if (path->empty()) std::abort();
        checkParsed(parseWindowsPath(*path));
    }
    checkParsed(parseWindowsPath(text));
    return 0;
}
