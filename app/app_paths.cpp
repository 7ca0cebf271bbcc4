#include "app/app_paths.h"

#include <cstdlib>
#include <string>

namespace crestline {

std::filesystem::path executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::filesystem::path resourceFolder() {
    if (const char* dir = std::getenv("CRESTLINE_RESOURCE_DIR"); dir != nullptr && dir[0] != '\0') return dir;
    const auto exe = executablePath();
    if (exe.empty()) return {};
    return exe.parent_path().parent_path() / "share" / "crestline";
}

bool isInstalledCopy(const std::filesystem::path& executable) {
    const std::string path = executable.lexically_normal().string();
    return path.rfind("/usr/", 0) == 0 || path.rfind("/opt/", 0) == 0;
}

}  // namespace crestline
