#include "tools/meter/audio_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace crestline::meter_tool {
namespace {

// A clearer reason than either library's for the common cases: absent, a
// folder, no permission.
std::string accessProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "is a directory";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}

}  // namespace

std::unique_ptr<AudioInput> openAudioInput(const std::string& path, std::string& error) {
    if (std::string problem = accessProblem(path); !problem.empty()) {
        error = problem;
        return nullptr;
    }
    std::string sndfileReason;
    if (auto input = openWithSndfile(path, sndfileReason)) return input;
    std::string ffmpegReason;
    bool recognised = false;
    if (auto input = openWithFfmpeg(path, ffmpegReason, recognised)) return input;
    error = "not a readable audio file (" + (recognised ? ffmpegReason : sndfileReason) + ")";
    return nullptr;
}

}  // namespace crestline::meter_tool
