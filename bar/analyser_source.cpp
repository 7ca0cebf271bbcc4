#include "bar/analyser_source.h"

#include <algorithm>
#include <cmath>

namespace crestline {

AnalyserSource::AnalyserSource(int scopeCapacity) : scope_(scopeCapacity), handler_(meter_, peaks_, &scope_) {}

bool AnalyserSource::configure(double sampleRate) {
    if (!meter_.configure(sampleRate)) return false;
    scope_.configure(sampleRate);
    sampleRate_ = sampleRate;
    framesPerColumn_ = std::max(1, static_cast<int>(std::lround(sampleRate * SpectrogramRecorder::kTickSeconds)));
    framesToColumn_ = framesPerColumn_;
    return true;
}

void AnalyserSource::feed(const float* left, const float* right, int frames) {
    if (left == nullptr || right == nullptr) return;
    // Cut at every 40 ms of audio so each column sees the audio up to its moment.
    while (frames > 0) {
        const int n = std::min(frames, framesToColumn_);
        handler_(left, right, n);
        left += n;
        right += n;
        frames -= n;
        frames_ += static_cast<std::uint64_t>(n);
        framesToColumn_ -= n;
        if (framesToColumn_ == 0) {
            if (frames_ >= columnsFrom_) recorder_.captureColumn(scope_);
            framesToColumn_ = framesPerColumn_;
        }
    }
}

}  // namespace crestline
