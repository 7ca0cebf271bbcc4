#include "analysis/peak_meter.h"

#include <cmath>
#include <limits>

#include "analysis/simd.h"

namespace crestline {
namespace {

double decibels(float amplitude) {
    return amplitude > 0.0f ? 20.0 * std::log10(static_cast<double>(amplitude))
                            : -std::numeric_limits<double>::infinity();
}

}  // namespace

float maxMagnitude(const float* x, int frames) {
    using namespace simd;
    // Eight running maxima in two vectors, folded at the end.
    Float4 a{}, b{};
    int i = 0;
    for (; i + 8 <= frames; i += 8) {
        a = max4(a, abs4(load4(x + i)));
        b = max4(b, abs4(load4(x + i + 4)));
    }
    float m = maxLanes(max4(a, b), 0.0f);
    for (; i < frames; ++i) {
        const float v = std::fabs(x[i]);
        m = m < v ? v : m;
    }
    return m;
}

void PeakMeter::process(const float* left, const float* right, int frames) {
    if (frames < 1) return;
    const float l = maxMagnitude(left, frames);
    const float r = maxMagnitude(right, frames);
    std::scoped_lock lock(mutex_);
    if (l > left_) left_ = l;
    if (r > right_) right_ = r;
}

PeakLevels PeakMeter::take() {
    float l = 0.0f, r = 0.0f;
    {
        std::scoped_lock lock(mutex_);
        l = left_;
        r = right_;
        left_ = right_ = 0.0f;
    }
    return {decibels(l), decibels(r)};
}

}  // namespace crestline
