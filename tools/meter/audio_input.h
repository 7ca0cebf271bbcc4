// An audio file opened for metering, read at its own rate and channel count
// (no resampling, no down-mix) as blocks of planar float samples. libsndfile
// reads what it can (WAV, AIFF, FLAC, Ogg, Opus, MP3, CAF...); what it
// cannot, FFmpeg's libraries decode (AAC and ALAC in M4A, and the rest of
// what they know). One virtual call per block; the readers decode into
// buffers they keep between blocks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis/channel_layout.h"

namespace crestline::meter_tool {

class AudioInput {
public:
    virtual ~AudioInput() = default;

    double sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Where each channel plays: as the file states it, else the usual order
    // for the count; empty for more channels than any layout we meter.
    const std::vector<Speaker>& layout() const { return layout_; }
    long long framesHint() const { return framesHint_; }  // from the header; the read count is what counts
    const std::string& error() const { return error_; }

    // Reads up to `frames` frames: out[c] (at least `frames` long) receives
    // channel c. Returns the frames read, fewer only at the end, 0 at the
    // end, −1 on a read error (see error(), without the path).
    virtual int read(float* const* out, int frames) = 0;

protected:
    double sampleRate_ = 0.0;
    int channels_ = 0;
    std::vector<Speaker> layout_;
    long long framesHint_ = 0;
    std::string error_;
};

// libsndfile, then FFmpeg. Null on failure, with `error` saying why in one
// line without the path: what is absent or unreadable as the system says
// it, else "not a readable audio file (reason)".
std::unique_ptr<AudioInput> openAudioInput(const std::string& path, std::string& error);

// Each reader alone. `reason` is the library's own text. FFmpeg's
// `recognised` tells whether it found an audio stream it can decode, so
// that a file neither knows is reported in libsndfile's words as before.
std::unique_ptr<AudioInput> openWithSndfile(const std::string& path, std::string& reason);
std::unique_ptr<AudioInput> openWithFfmpeg(const std::string& path, std::string& reason, bool& recognised);

}  // namespace crestline::meter_tool
