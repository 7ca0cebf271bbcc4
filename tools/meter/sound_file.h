// An audio file read as stereo blocks, for views that show two channels:
// whatever AudioInput reads (libsndfile, else FFmpeg), at its own rate; mono
// feeds both channels, more than two give front left and front right (the
// first two when the file names no speakers). Buffers are sized when the
// file is opened.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/meter/audio_input.h"

namespace crestline::meter_tool {

class SoundFile {
public:
    // Opens `path`; on failure `error()` says why (without the path).
    explicit SoundFile(const std::string& path, int blockFrames = 512);
    ~SoundFile() = default;
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    bool isOpen() const { return input_ != nullptr; }
    const std::string& error() const { return error_; }

    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    long long framesHint() const { return frames_; }  // from the header; the read count is what counts

    // Reads the next block into left/right (each blockFrames long). Returns
    // the frames read, 0 at the end, −1 on a read error (see error()).
    int read(float* left, float* right);

    int blockFrames() const { return blockFrames_; }

private:
    std::unique_ptr<AudioInput> input_;
    std::string error_;
    double sampleRate_ = 0.0;
    int channels_ = 0;
    long long frames_ = 0;
    int blockFrames_;
    std::size_t left_ = 0, right_ = 0;  // the channels shown
    std::vector<std::vector<float>> buffers_;
    std::vector<float*> planes_;
};

}  // namespace crestline::meter_tool
