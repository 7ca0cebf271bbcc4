#include "analysis/block_handler.h"

#include <algorithm>
#include <cmath>

#include "analysis/simd.h"
#include "platform/log.h"

namespace crestline {
namespace {

void copyFinite(const float* in, float* out, int frames) {
    for (int i = 0; i < frames; ++i) out[i] = std::isfinite(in[i]) ? in[i] : 0.0f;
}

}  // namespace

bool allFinite(const float* x, int frames) {
    using namespace simd;
    // x·0 is 0 for every finite x and NaN otherwise; a sum of them says it all.
    Float4 a{}, b{};
    int i = 0;
    for (; i + 8 <= frames; i += 8) {
        a += load4(x + i) * 0.0f;
        b += load4(x + i + 4) * 0.0f;
    }
    const Float4 lanes = a + b;
    float sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    for (; i < frames; ++i) sum += x[i] * 0.0f;
    return sum == 0.0f;
}

BlockHandler::BlockHandler(LoudnessMeter& meter, PeakMeter& peaks, ScopeBuffer* scope)
    : meter_(&meter), peaks_(&peaks), scope_(scope), scratchLeft_(kScratchFrames), scratchRight_(kScratchFrames) {}

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
    if (scope_) scope_->write(left, right, frames);
}

}  // namespace crestline
