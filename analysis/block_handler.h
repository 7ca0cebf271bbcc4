// What happens to one captured stereo block, shared by the live capture
// path and crestline-meter: non-finite samples become 0 (a NaN or an
// infinity would poison the filters for good), then the loudness meter, the
// peak meter and, when given, the scope buffer see the block, in that order,
// each under its own lock and never two at once.
//
// Runs on the capture thread. Allocates nothing per block: a clean block
// (the normal case, found by one cheap scan) goes straight through; only a
// block with non-finite samples is copied, in pieces, into scratch sized at
// construction. The first such block of a handler's life is logged once.
#pragma once

#include <vector>

#include "analysis/loudness_meter.h"
#include "analysis/peak_meter.h"
#include "analysis/scope_buffer.h"

namespace crestline {

// True when no sample is NaN or ±∞.
bool allFinite(const float* x, int frames);

class BlockHandler {
public:
    static constexpr int kScratchFrames = 4096;

    BlockHandler(LoudnessMeter& meter, PeakMeter& peaks, ScopeBuffer* scope = nullptr);

    void operator()(const float* left, const float* right, int frames);

private:
    void feed(const float* left, const float* right, int frames);

    LoudnessMeter* meter_;
    PeakMeter* peaks_;
    ScopeBuffer* scope_;
    std::vector<float> scratchLeft_;
    std::vector<float> scratchRight_;
    bool reported_ = false;
};

}  // namespace crestline
