// Windows paths translated into a Wine prefix built once in a scratch folder
// (drive c: a relative link, z: a folder standing in for "/", users and
// documents in Windows' spelling). Seeded from corpus/windows_path. A
// translation stays inside its drive's folder whatever the dots and case
// say, and answers a path exactly when the parse named a mapped drive.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/daw_root.h"

using namespace crestline;
namespace fs = std::filesystem;

namespace {

fs::path makePrefix() {
    std::string pattern = (fs::temp_directory_path() / "crestline-fuzz-prefix-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    const fs::path root = pattern;
    for (const char* folder : {"drive_c/users/me/Documents/Ableton/User Library", "drive_c/users/Public",
                               "drive_c/users/me/AppData/Roaming/Ableton/Live 12.1.5/Preferences",
                               "drive_c/ProgramData/Ableton/Live 12 Suite/Resources/Themes", "unix/home/me/Music", "dosdevices"}) {
        fs::create_directories(root / folder);
    }
    fs::create_symlink("../drive_c", root / "dosdevices" / "c:");
    fs::create_symlink(root / "unix", root / "dosdevices" / "z:");
    return root;
}

const fs::path& prefix() {
    static const fs::path root = makePrefix();
    return root;
}

// The prefix never changes while fuzzing, so each drive's folder is looked
// up once: the runs then spend their time in the translation under test.
const std::optional<fs::path>& driveFolder(char letter) {
    static std::array<std::optional<std::optional<fs::path>>, 256> known;
    auto& slot = known[static_cast<unsigned char>(letter)];
    if (!slot) slot = wineDrive(prefix(), letter);
    return *slot;
}

bool within(const fs::path& path, const fs::path& folder) {
    const auto [end, unused] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    (void)unused;
    return end == folder.end();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)prefix();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const WindowsPath parsed = parseWindowsPath(text);
    const Translation translated = translateWindowsPath(prefix(), text);
    if (translated.path.has_value() == !translated.why.empty()) std::abort();
    const std::optional<fs::path> none;
    const auto& drive = parsed.drive != 0 ? driveFolder(parsed.drive) : none;
    if (translated.path.has_value() != drive.has_value()) std::abort();
    if (translated.path) {
        if (!within(*translated.path, *drive)) std::abort();
        for (const auto& part : *translated.path) {
            if (part == "..") std::abort();
        }
    }
    return 0;
}
