#include "tools/meter/sound_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace crestline::meter_tool {
namespace {

// libsndfile's texts end with a period or a newline; one line is wanted.
std::string tidy(const char* text) {
    std::string s = text != nullptr ? text : "unknown error";
    while (!s.empty() && (s.back() == '\n' || s.back() == '.' || s.back() == ' ')) s.pop_back();
    for (char& c : s) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return s;
}

// A clearer reason than libsndfile's for the common cases: absent,
// a folder, no permission.
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

struct SoundFile::Handle {
    SNDFILE* sf;
};

SoundFile::SoundFile(const std::string& path, int blockFrames) : blockFrames_(blockFrames) {
    if (std::string problem = accessProblem(path); !problem.empty()) {
        error_ = problem;
        return;
    }
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (sf == nullptr) {
        error_ = "not a readable audio file (" + tidy(sf_strerror(nullptr)) + ")";
        return;
    }
    if (info.channels < 1) {
        sf_close(sf);
        error_ = "no audio channels";
        return;
    }
    file_ = new Handle{sf};
    sampleRate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    interleaved_.resize(static_cast<std::size_t>(blockFrames_) * static_cast<std::size_t>(channels_));
}

SoundFile::~SoundFile() {
    if (file_ != nullptr) sf_close(file_->sf);
    delete file_;
}

int SoundFile::read(float* left, float* right) {
    if (file_ == nullptr) return -1;
    const sf_count_t got = sf_readf_float(file_->sf, interleaved_.data(), blockFrames_);
    if (got <= 0 || got > blockFrames_) {
        if (sf_error(file_->sf) != SF_ERR_NO_ERROR) {
            error_ = "read failed (" + tidy(sf_strerror(file_->sf)) + ")";
            return -1;
        }
        return 0;
    }
    const auto n = static_cast<int>(got);
    const auto c = static_cast<std::size_t>(channels_);
    const std::size_t second = channels_ > 1 ? 1 : 0;
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i) * c;
        left[i] = interleaved_[k];
        right[i] = interleaved_[k + second];
    }
    return n;
}

}  // namespace crestline::meter_tool
