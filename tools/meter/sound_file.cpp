#include "tools/meter/sound_file.h"

#include <algorithm>
#include <cstring>

namespace crestline::meter_tool {

SoundFile::SoundFile(const std::string& path, int blockFrames) : blockFrames_(std::max(blockFrames, 1)) {
    input_ = openAudioInput(path, error_);
    if (!input_) return;
    sampleRate_ = input_->sampleRate();
    channels_ = input_->channels();
    frames_ = input_->framesHint();
    const int left = channelAt(input_->layout(), Speaker::frontLeft);
    const int right = channelAt(input_->layout(), Speaker::frontRight);
    if (channels_ > 1) {
        left_ = left >= 0 && right >= 0 ? static_cast<std::size_t>(left) : 0;
        right_ = left >= 0 && right >= 0 ? static_cast<std::size_t>(right) : 1;
    }
    buffers_.assign(static_cast<std::size_t>(channels_), std::vector<float>(static_cast<std::size_t>(blockFrames_)));
    for (auto& b : buffers_) planes_.push_back(b.data());
}

int SoundFile::read(float* left, float* right) {
    if (!input_) return -1;
    const int n = input_->read(planes_.data(), blockFrames_);
    if (n < 0) {
        error_ = input_->error();
        return -1;
    }
    std::memcpy(left, planes_[left_], static_cast<std::size_t>(n) * sizeof(float));
    std::memcpy(right, planes_[right_], static_cast<std::size_t>(n) * sizeof(float));
    return n;
}

}  // namespace crestline::meter_tool
