#include "analysis/gating_histograms.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "analysis/loudness_meter.h"

namespace crestline {
namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
constexpr double kIntegratedRelativeGate = -10.0;  // LU
constexpr double kRangeRelativeGate = -20.0;       // LU
constexpr long long kMinRangeBlocks = 10;

double loudness(double power) { return power > 0.0 ? 10.0 * std::log10(power) - 0.691 : kMinusInfinity; }

// As the meter's gate: the first bin whose lower edge is not below `gate`,
// none when even the top bin lies below it.
bool firstBinAbove(double gate, int& bin) {
    const double s = std::ceil((gate + 70.0) * 10.0);
    if (!(s <= GatingHistograms::kBins - 1)) return false;
    bin = s < 0.0 ? 0 : static_cast<int>(s);
    return true;
}

}  // namespace

void GatingHistograms::add(const GatingHistograms& other) {
    for (int b = 0; b < kBins; ++b) {
        const auto k = static_cast<std::size_t>(b);
        counts[k] += other.counts[k];
        energy[k] += other.energy[k];
        rangeCounts[k] += other.rangeCounts[k];
        rangeEnergy[k] += other.rangeEnergy[k];
    }
    count += other.count;
    totalEnergy += other.totalEnergy;
    rangeCount += other.rangeCount;
    rangeTotalEnergy += other.rangeTotalEnergy;
}

double GatingHistograms::integrated() const {
    if (count < 1) return kMinusInfinity;
    int start = 0;
    if (!firstBinAbove(loudness(totalEnergy / static_cast<double>(count)) + kIntegratedRelativeGate, start)) {
        return kMinusInfinity;
    }
    long long gated = 0;
    double sum = 0.0;
    for (int b = start; b < kBins; ++b) {
        gated += counts[static_cast<std::size_t>(b)];
        sum += energy[static_cast<std::size_t>(b)];
    }
    return loudness(gated >= 1 ? sum / static_cast<double>(gated) : 0.0);
}

double GatingHistograms::loudnessRange() const {
    if (rangeCount < kMinRangeBlocks) return kMinusInfinity;
    int start = 0;
    if (!firstBinAbove(loudness(rangeTotalEnergy / static_cast<double>(rangeCount)) + kRangeRelativeGate, start)) {
        return kMinusInfinity;
    }
    long long above = 0;
    for (int b = start; b < kBins; ++b) above += rangeCounts[static_cast<std::size_t>(b)];
    if (above < kMinRangeBlocks) return kMinusInfinity;
    const double high = rangePercentile(rangeCounts.data(), start, above, 0.95);
    const double low = rangePercentile(rangeCounts.data(), start, above, 0.10);
    return std::max(high - low, 0.0);
}

GatingHistograms LoudnessMeter::gatingHistograms() const {
    static_assert(GatingHistograms::kBins == kBins);
    GatingHistograms h;
    std::scoped_lock lock(mutex_);
    h.counts = binCounts_;
    h.energy = binEnergy_;
    h.count = gatedCount_;
    h.totalEnergy = gatedEnergy_;
    h.rangeCounts = lraCounts_;
    h.rangeEnergy = lraEnergy_;
    h.rangeCount = lraTotalCount_;
    h.rangeTotalEnergy = lraTotalEnergy_;
    return h;
}

}  // namespace crestline
