// Sample peak per channel since the view last read it. The capture thread
// raises it with `process`; the view's peak update reads and clears it with
// `take`. One mutex, held for two comparisons per block.
#pragma once

#include <mutex>

namespace crestline {

struct PeakLevels {
    double left;   // dBFS, −∞ when nothing above 0 arrived
    double right;  // dBFS
};

// Largest |x[i]| of a block, 0 for an empty one; NaN samples are skipped.
float maxMagnitude(const float* x, int frames);

class PeakMeter {
public:
    PeakMeter() = default;
    PeakMeter(const PeakMeter&) = delete;
    PeakMeter& operator=(const PeakMeter&) = delete;

    void process(const float* left, const float* right, int frames);

    // The peaks since the previous take, in dBFS; clears them.
    PeakLevels take();

private:
    std::mutex mutex_;
    float left_ = 0.0f;  // linear
    float right_ = 0.0f;
};

}  // namespace crestline
