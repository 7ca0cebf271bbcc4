// An audio file read with libsndfile (WAV, AIFF, FLAC, Ogg... at any rate)
// as stereo blocks: mono feeds both channels, more than two channels give
// the first two. Buffers are sized when the file is opened.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace crestline::meter_tool {

class SoundFile {
public:
    // Opens `path`; on failure `error()` says why (without the path).
    explicit SoundFile(const std::string& path, int blockFrames = 512);
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }

    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    long long framesHint() const { return frames_; }  // from the header; the read count is what counts

    // Reads the next block into left/right (each blockFrames long). Returns
    // the frames read, 0 at the end, −1 on a read error (see error()).
    int read(float* left, float* right);

    int blockFrames() const { return blockFrames_; }

private:
    struct Handle;
    Handle* file_ = nullptr;
    std::string error_;
    double sampleRate_ = 0.0;
    int channels_ = 0;
    long long frames_ = 0;
    int blockFrames_;
    std::vector<float> interleaved_;
};

}  // namespace crestline::meter_tool
