// The gating state of a loudness measurement: the histogram of 400 ms
// blocks for the integrated loudness and the histogram of 3 s blocks for the
// loudness range, both in 0.1 LU bins from −70 LUFS, with their totals.
// Added together, the histograms of several measurements gate as one
// programme: every block of every file passes the same absolute and relative
// gates, as when an album's tracks play one after another (the blocks that
// would straddle two tracks aside). A plain value, copied out of the meter.
#pragma once

#include <array>

namespace crestline {

struct GatingHistograms {
    static constexpr int kBins = 1000;

    std::array<long long, kBins> counts{};  // 400 ms blocks above −70 LUFS, per bin
    std::array<double, kBins> energy{};     // Σ of their mean-square power, per bin
    long long count = 0;
    double totalEnergy = 0.0;
    std::array<long long, kBins> rangeCounts{};  // 3 s blocks above −70 LUFS, per bin
    std::array<double, kBins> rangeEnergy{};
    long long rangeCount = 0;
    double rangeTotalEnergy = 0.0;

    void add(const GatingHistograms& other);

    // LUFS after the relative gate, at bin resolution as the meter gates;
    // −∞ when no block passes.
    double integrated() const;
    // LU between the 10th and 95th percentiles of the gated 3 s blocks; −∞
    // with fewer than ten of them.
    double loudnessRange() const;
};

}  // namespace crestline
