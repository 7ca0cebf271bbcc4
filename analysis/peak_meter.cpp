#include "analysis/peak_meter.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace crestline {
namespace {

using Float8 = float __attribute__((vector_size(32)));
using Int8 = int __attribute__((vector_size(32)));
constexpr int kLanes = 8;

double decibels(float amplitude) {
    return amplitude > 0.0f ? 20.0 * std::log10(static_cast<double>(amplitude))
                            : -std::numeric_limits<double>::infinity();
}

}  // namespace

float maxMagnitude(const float* x, int frames) {
    // Eight running maxima side by side, folded at the end; `m < a ? a : m`
    // keeps m when a is NaN.
    Float8 lanes{};
    int i = 0;
    for (; i + kLanes <= frames; i += kLanes) {
        Float8 v;
        std::memcpy(&v, x + i, sizeof v);
        Int8 bits;
        std::memcpy(&bits, &v, sizeof v);
        bits &= 0x7fffffff;
        std::memcpy(&v, &bits, sizeof v);
        lanes = lanes < v ? v : lanes;
    }
    float m = 0.0f;
    for (int k = 0; k < kLanes; ++k) m = m < lanes[k] ? lanes[k] : m;
    for (; i < frames; ++i) {
        const float a = std::fabs(x[i]);
        m = m < a ? a : m;
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
