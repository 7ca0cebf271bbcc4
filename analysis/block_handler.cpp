#include "analysis/block_handler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/log.h"

namespace crestline {
namespace {

using Float8 = float __attribute__((vector_size(32)));
constexpr int kLanes = 8;

void copyFinite(const float* in, float* out, int frames) {
    for (int i = 0; i < frames; ++i) out[i] = std::isfinite(in[i]) ? in[i] : 0.0f;
}

}  // namespace

bool allFinite(const float* x, int frames) {
    // x·0 is 0 for every finite x and NaN otherwise; a sum of them says it all.
    Float8 lanes{};
    int i = 0;
    for (; i + kLanes <= frames; i += kLanes) {
        Float8 v;
        std::memcpy(&v, x + i, sizeof v);
        lanes += v * 0.0f;
    }
    float sum = 0.0f;
    for (int k = 0; k < kLanes; ++k) sum += lanes[k];
    for (; i < frames; ++i) sum += x[i] * 0.0f;
    return sum == 0.0f;
}

BlockHandler::BlockHandler(LoudnessMeter& meter, PeakMeter& peaks)
    : meter_(&meter), peaks_(&peaks), scratchLeft_(kScratchFrames), scratchRight_(kScratchFrames) {}

void BlockHandler::operator()(const float* left, const float* right, int frames) {
    if (frames < 1) return;
    if (allFinite(left, frames) && allFinite(right, frames)) {
        feed(left, right, frames);
        return;
    }
    if (!reported_) {
        reported_ = true;
        log("Crestline: niet-eindige samples (NaN of oneindig) vervangen door 0");
    }
    for (int done = 0; done < frames; done += kScratchFrames) {
        const int n = std::min(kScratchFrames, frames - done);
        copyFinite(left + done, scratchLeft_.data(), n);
        copyFinite(right + done, scratchRight_.data(), n);
        feed(scratchLeft_.data(), scratchRight_.data(), n);
    }
}

void BlockHandler::feed(const float* left, const float* right, int frames) {
    meter_->process(left, right, frames);
    peaks_->process(left, right, frames);
}

}  // namespace crestline
