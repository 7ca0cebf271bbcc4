#include "analysis/loudness_meter.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace crestline {
namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
constexpr float kMinusInfinityF = -std::numeric_limits<float>::infinity();
constexpr float kNaNF = std::numeric_limits<float>::quiet_NaN();
constexpr double kAbsoluteGate = -70.0;       // LUFS
constexpr double kIntegratedRelativeGate = -10.0;  // LU
constexpr double kRangeRelativeGate = -20.0;  // LU
constexpr double kTopBinEdge = (LoudnessMeter::kBins - 1) / 10.0 - 70.0;  // 29.900000000000006 LUFS

// Mean-square power (both channels summed) to LUFS; no power, no value.
double loudness(double power) { return power > 0.0 ? 10.0 * std::log10(power) - 0.691 : kMinusInfinity; }

double decibels(double amplitude) { return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : kMinusInfinity; }

// Histogram bin of a loudness, clamped in floating point before the
// conversion so that ±∞ and NaN land on a valid bin.
int binIndex(double lufs) {
    const double b = std::trunc((lufs + 70.0) * 10.0);
    if (!(b >= 0.0)) return 0;
    if (b > LoudnessMeter::kBins - 1) return LoudnessMeter::kBins - 1;
    return static_cast<int>(b);
}

// First bin whose lower edge is not below the relative gate `gate`, or
// nothing when even the top bin lies below it (NaN counts as that too).
// May be negative: callers clamp.
bool firstBinAbove(double gate, int& bin) {
    const double s = std::ceil((gate + 70.0) * 10.0);
    if (!(s <= LoudnessMeter::kBins - 1)) return false;
    bin = s < 0.0 ? 0 : static_cast<int>(s);
    return true;
}

}  // namespace

double rangePercentile(const long long* counts, int start, long long total, double p) {
    const double target = std::floor(static_cast<double>(total) * p);
    long long running = 0;
    for (int b = std::max(start, 0); b < LoudnessMeter::kBins; ++b) {
        running += counts[b];
        if (static_cast<double>(running) > target) return b / 10.0 - 70.0;
    }
    return kTopBinEdge;
}

LoudnessMeter::LoudnessMeter()
    : historyValues_(kHistoryLength, kMinusInfinityF),
      historyMomentary_(kHistoryLength, kMinusInfinityF),
      historyIntegrated_(kHistoryLength, kMinusInfinityF),
      historyPeak_(kHistoryLength, kMinusInfinityF),
      historyPSR_(kHistoryLength, kNaNF),
      energyScratch_(kChunk),
      peakScratchLeft_(kChunk),
      peakScratchRight_(kChunk) {}

bool LoudnessMeter::configure(double sampleRate) {
    if (!std::isfinite(sampleRate) || sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate) return false;
    std::scoped_lock lock(filterMutex_, mutex_);
    sampleRate_ = sampleRate;
    kLeft_ = KWeighting(sampleRate);
    kRight_ = KWeighting(sampleRate);
    hopLength_ = std::max(static_cast<int>(std::lround(sampleRate / 10.0)), 1);
    stepLength_ = std::max(static_cast<int>(std::lround(sampleRate / 100.0)), 1);

    stepPosition_ = 0;
    stepEnergy_ = 0.0;
    steps_.fill(0.0);
    hopPosition_ = 0;
    hopEnergy_ = 0.0;
    stepsFilled_ = 0;
    stepWindowEnergy_ = 0.0;
    stepIndex_ = 0;
    hops_.fill(0.0);
    silentHops_ = 0;
    hopPeakCurrent_ = 0.0f;
    hopOversCurrent_ = 0;
    hopIndex_ = 0;
    hopsFilled_ = 0;
    hopPeaks_.fill(0.0f);
    hopOvers_.fill(0);

    resetCorrelationLocked();
    resetShortTermLocked();
    resetIntegratedLocked();
    resetTruePeakLocked();
    resetHistoryLocked();
    return true;
}

double LoudnessMeter::sampleRate() const {
    std::scoped_lock lock(mutex_);
    return sampleRate_;
}

void LoudnessMeter::process(const float* left, const float* right, int frames) {
    if (frames < 1) {
        assert(frames == 0 && "negative frame count");
        return;
    }
    // Filtering, the bulk of the work, touches only the capture side's own
    // state: it runs outside the meter's lock, so a reader never holds up a
    // block for its whole duration, nor the block a reader.
    std::scoped_lock filters(filterMutex_);
    for (int done = 0; done < frames; done += kChunk) {
        const int n = std::min(kChunk, frames - done);
        filterChunk(left + done, right + done, n);
        std::scoped_lock lock(mutex_);
        processChunkLocked(left + done, right + done, n);
    }
    // Finite input keeps the filters finite; a caller that skipped the block
    // handler's cleaning loses one block, not the rest of the session.
    kLeft_.mendState();
    kRight_.mendState();
}

// Weighting and interpolation depend on nothing that a hop end changes,
// so they run over the whole chunk first, in tight loops.
void LoudnessMeter::filterChunk(const float* left, const float* right, int frames) {
    weightedEnergies(kLeft_, kRight_, left, right, frames, energyScratch_.data());
    peakLeft_.pushBlock(left, frames, peakScratchLeft_.data());
    peakRight_.pushBlock(right, frames, peakScratchRight_.data());
}

void LoudnessMeter::processChunkLocked(const float* left, const float* right, int frames) {
    const double* const energy = energyScratch_.data();
    const float* const tpLeft = peakScratchLeft_.data();
    const float* const tpRight = peakScratchRight_.data();

    // Then the chunk is walked in segments that end where a step or a hop
    // ends; sums keep the sample order so results do not depend on blocking.
    for (int i = 0; i < frames;) {
        const int end = i + std::min({frames - i, stepLength_ - stepPosition_, hopLength_ - hopPosition_});

        double hopEnergy = hopEnergy_, stepEnergy = stepEnergy_;
        double lr = corLR_, l2 = corL2_, r2 = corR2_;
        for (int j = i; j < end; ++j) {
            hopEnergy += energy[j];
            stepEnergy += energy[j];
            const double l = left[j], r = right[j];
            lr += l * r;
            l2 += l * l;
            r2 += r * r;
        }
        hopEnergy_ = hopEnergy;
        stepEnergy_ = stepEnergy;
        corLR_ = lr;
        corL2_ = l2;
        corR2_ = r2;

        float peakL = peakLeft_.peak, peakR = peakRight_.peak, hopPeak = hopPeakCurrent_;
        bool wasOver = wasOver_;
        int overs = 0;
        for (int j = i; j < end; ++j) {
            const float tl = tpLeft[j], tr = tpRight[j];
            const float m = tl < tr ? tr : tl;
            peakL = peakL < tl ? tl : peakL;
            peakR = peakR < tr ? tr : peakR;
            hopPeak = hopPeak < m ? m : hopPeak;
            const bool over = static_cast<double>(m) > overAmplitude;
            overs += over && !wasOver;
            wasOver = over;
        }
        peakLeft_.peak = peakL;
        peakRight_.peak = peakR;
        hopPeakCurrent_ = hopPeak;
        wasOver_ = wasOver;
        reading_.overs += overs;
        hopOversCurrent_ += overs;

        stepPosition_ += end - i;
        hopPosition_ += end - i;
        i = end;
        if (stepPosition_ >= stepLength_) stepEndLocked();
        if (hopPosition_ >= hopLength_) hopEndLocked();
    }
}

void LoudnessMeter::stepEndLocked() {
    stepWindowEnergy_ += stepEnergy_ - steps_[static_cast<std::size_t>(stepIndex_)];
    steps_[static_cast<std::size_t>(stepIndex_)] = stepEnergy_;
    const int n = stepsFilled_ + 1;
    stepIndex_ = (stepIndex_ + 1) % kStepRing;
    stepsFilled_ = std::min(kStepRing, n);
    stepPosition_ = 0;
    stepEnergy_ = 0.0;
    if (stepIndex_ == 0) {
        // The running sum drifts; start it afresh every 400 ms.
        double sum = 0.0;
        for (double e : steps_) sum += e;
        stepWindowEnergy_ = sum;
    }
    if (n >= kStepRing) {
        const double power = std::max(stepWindowEnergy_, 0.0) / (static_cast<double>(kStepRing) * stepLength_);
        reading_.momentary = loudness(power);
    }
}

void LoudnessMeter::hopEndLocked() {
    const int stored = hopIndex_;
    hops_[static_cast<std::size_t>(stored)] = hopEnergy_;
    hopPeaks_[static_cast<std::size_t>(stored)] = hopPeakCurrent_;
    hopOvers_[static_cast<std::size_t>(stored)] = hopOversCurrent_;
    hopIndex_ = (hopIndex_ + 1) % kHopRing;
    hopsFilled_ = std::min(kHopRing, hopsFilled_ + 1);
    shortTermFilled_ = std::min(kHopRing, shortTermFilled_ + 1);
    hopPeakCurrent_ = 0.0f;
    hopOversCurrent_ = 0;
    hopPosition_ = 0;
    hopEnergy_ = 0.0;

    corRingLR_[static_cast<std::size_t>(corIndex_)] = corLR_;
    corRingL2_[static_cast<std::size_t>(corIndex_)] = corL2_;
    corRingR2_[static_cast<std::size_t>(corIndex_)] = corR2_;
    corIndex_ = (corIndex_ + 1) % kCorrelationRing;
    corLR_ = corL2_ = corR2_ = 0.0;
    updateCorrelationLocked();

    // Sum of the n newest hops, oldest first.
    const auto newestHops = [this](int n) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum += hops_[static_cast<std::size_t>((hopIndex_ - n + k + kHopRing) % kHopRing)];
        return sum;
    };

    // Gating block: 400 ms every 100 ms.
    if (hopsFilled_ >= 4) {
        const double power = newestHops(4) / (4.0 * hopLength_);
        const double lufs = loudness(power);
        if (power > 0.0 && lufs > kAbsoluteGate) {
            if (autoResetEnabled_ && silentHops_ >= kSilentHopsBeforeReset) {
                resetIntegratedLocked();
                seedTruePeakFromBlockLocked();
            }
            silentHops_ = 0;
            addIntegratedBlockLocked(power, lufs);
        } else {
            ++silentHops_;
        }
    }

    const int n = shortTermFilled_;
    const double shortTermEnergy = newestHops(n);
    reading_.shortTerm = loudness(shortTermEnergy / (std::max(n, 1) * static_cast<double>(hopLength_)));

    reading_.truePeak = decibels(std::max(peakLeft_.peak, peakRight_.peak));

    if (n > 0) {
        float largest = 0.0f;
        for (int k = 0; k < n; ++k) {
            const float p = hopPeaks_[static_cast<std::size_t>((hopIndex_ - n + k + kHopRing) % kHopRing)];
            largest = largest < p ? p : largest;
        }
        reading_.shortTermPeak = decibels(largest);
    } else {
        reading_.shortTermPeak = kMinusInfinity;
    }

    const auto h = static_cast<std::size_t>(historyIndex_);
    historyValues_[h] = static_cast<float>(reading_.shortTerm);
    historyMomentary_[h] = static_cast<float>(reading_.momentary);
    historyIntegrated_[h] = static_cast<float>(reading_.integrated);
    historyPeak_[h] = static_cast<float>(decibels(hopPeaks_[static_cast<std::size_t>(stored)]));
    historyPSR_[h] = std::isfinite(reading_.shortTermPeak) && std::isfinite(reading_.shortTerm)
                         ? static_cast<float>(reading_.shortTermPeak - reading_.shortTerm)
                         : kNaNF;
    historyIndex_ = (historyIndex_ + 1) % kHistoryLength;
    historyFilled_ = std::min(kHistoryLength, historyFilled_ + 1);

    if (++hopsSinceLRASample_ < kHopsPerRangeBlock) return;
    hopsSinceLRASample_ = 0;
    if (shortTermFilled_ < kHopRing) return;
    addRangeBlockLocked(shortTermEnergy / (static_cast<double>(kHopRing) * hopLength_));
}

// After a silence auto-reset the block that ended the silence would lose
// its onset peak and overs; take them from its four hops.
void LoudnessMeter::seedTruePeakFromBlockLocked() {
    const bool wasOver = wasOver_;
    resetTruePeakLocked();
    float largest = 0.0f;
    int overs = 0;
    for (int k = 1; k <= 4; ++k) {
        const auto slot = static_cast<std::size_t>((hopIndex_ - k + kHopRing) % kHopRing);
        largest = largest < hopPeaks_[slot] ? hopPeaks_[slot] : largest;
        overs += hopOvers_[slot];
    }
    // Only the larger of the two channel peaks is ever read.
    peakLeft_.peak = largest;
    peakRight_.peak = largest;
    reading_.overs = overs;
    wasOver_ = wasOver;
}

void LoudnessMeter::updateCorrelationLocked() {
    double slr = 0.0, sl2 = 0.0, sr2 = 0.0;
    for (int k = 0; k < kCorrelationRing; ++k) {
        slr += corRingLR_[static_cast<std::size_t>(k)];
        sl2 += corRingL2_[static_cast<std::size_t>(k)];
        sr2 += corRingR2_[static_cast<std::size_t>(k)];
    }
    if (sl2 + sr2 > 1e-9) {
        const double d = std::sqrt(sl2 * sr2);
        reading_.correlation = d > 1e-12 ? std::clamp(slr / d, -1.0, 1.0) : 0.0;
    } else {
        reading_.correlation = std::numeric_limits<double>::quiet_NaN();
    }
}

void LoudnessMeter::addIntegratedBlockLocked(double power, double lufs) {
    const auto b = static_cast<std::size_t>(binIndex(lufs));
    binCounts_[b] += 1;
    binEnergy_[b] += power;
    gatedCount_ += 1;
    gatedEnergy_ += power;

    int start = 0;
    if (!firstBinAbove(loudness(gatedEnergy_ / static_cast<double>(gatedCount_)) + kIntegratedRelativeGate, start)) {
        reading_.integrated = kMinusInfinity;
        return;
    }
    long long count = 0;
    double energy = 0.0;
    for (int k = start; k < kBins; ++k) {
        count += binCounts_[static_cast<std::size_t>(k)];
        energy += binEnergy_[static_cast<std::size_t>(k)];
    }
    const double mean = count >= 1 ? energy / static_cast<double>(count) : 0.0;
    reading_.integrated = loudness(mean);
}

void LoudnessMeter::addRangeBlockLocked(double power) {
    const double lufs = loudness(power);
    if (!(power > 0.0) || !(lufs > kAbsoluteGate)) return;
    const auto b = static_cast<std::size_t>(binIndex(lufs));
    lraCounts_[b] += 1;
    lraEnergy_[b] += power;
    lraTotalCount_ += 1;
    lraTotalEnergy_ += power;
    if (lraTotalCount_ < kMinRangeBlocks) return;

    int start = 0;
    if (!firstBinAbove(loudness(lraTotalEnergy_ / static_cast<double>(lraTotalCount_)) + kRangeRelativeGate, start)) {
        return;
    }
    long long above = 0;
    for (int k = start; k < kBins; ++k) above += lraCounts_[static_cast<std::size_t>(k)];
    if (above < kMinRangeBlocks) return;
    const double high = rangePercentile(lraCounts_.data(), start, above, 0.95);
    const double low = rangePercentile(lraCounts_.data(), start, above, 0.10);
    reading_.loudnessRange = std::max(high - low, 0.0);
}

LoudnessReading LoudnessMeter::reading() const {
    std::scoped_lock lock(mutex_);
    return reading_;
}

int LoudnessMeter::copyHistory(int count, HistorySource source, std::vector<float>& out) const {
    std::scoped_lock lock(mutex_);
    const int n = std::min(historyFilled_, count);
    if (n < 1) return 0;
    if (out.size() < static_cast<std::size_t>(n)) out.assign(static_cast<std::size_t>(n), kMinusInfinityF);
    const std::vector<float>* series = &historyMomentary_;
    switch (source) {
        case HistorySource::momentary: series = &historyMomentary_; break;
        case HistorySource::shortTerm: series = &historyValues_; break;
        case HistorySource::integrated: series = &historyIntegrated_; break;
        case HistorySource::truePeak: series = &historyPeak_; break;
        case HistorySource::psr: series = &historyPSR_; break;
    }
    for (int k = 0; k < n; ++k) {
        out[static_cast<std::size_t>(k)] =
            (*series)[static_cast<std::size_t>((historyIndex_ - n + k + 2 * kHistoryLength) % kHistoryLength)];
    }
    return n;
}

bool LoudnessMeter::autoResetEnabled() const {
    std::scoped_lock lock(mutex_);
    return autoResetEnabled_;
}

void LoudnessMeter::setAutoResetEnabled(bool enabled) {
    std::scoped_lock lock(mutex_);
    autoResetEnabled_ = enabled;
}

void LoudnessMeter::resetShortTermLocked() {
    shortTermFilled_ = 0;
    reading_.shortTerm = kMinusInfinity;
}

void LoudnessMeter::resetIntegratedLocked() {
    binCounts_.fill(0);
    binEnergy_.fill(0.0);
    lraCounts_.fill(0);
    lraEnergy_.fill(0.0);
    gatedCount_ = 0;
    gatedEnergy_ = 0.0;
    lraTotalCount_ = 0;
    lraTotalEnergy_ = 0.0;
    hopsSinceLRASample_ = 0;
    reading_.integrated = kMinusInfinity;
    reading_.loudnessRange = kMinusInfinity;
}

void LoudnessMeter::resetTruePeakLocked() {
    peakLeft_.peak = 0.0f;
    peakRight_.peak = 0.0f;
    reading_.truePeak = kMinusInfinity;
    reading_.overs = 0;
    wasOver_ = false;
}

void LoudnessMeter::resetHistoryLocked() {
    std::fill(historyValues_.begin(), historyValues_.end(), kMinusInfinityF);
    std::fill(historyMomentary_.begin(), historyMomentary_.end(), kMinusInfinityF);
    std::fill(historyIntegrated_.begin(), historyIntegrated_.end(), kMinusInfinityF);
    std::fill(historyPeak_.begin(), historyPeak_.end(), kMinusInfinityF);
    std::fill(historyPSR_.begin(), historyPSR_.end(), kNaNF);
    historyIndex_ = 0;
    historyFilled_ = 0;
}

void LoudnessMeter::resetCorrelationLocked() {
    corLR_ = corL2_ = corR2_ = 0.0;
    corRingLR_.fill(0.0);
    corRingL2_.fill(0.0);
    corRingR2_.fill(0.0);
    corIndex_ = 0;
    reading_.correlation = std::numeric_limits<double>::quiet_NaN();
}

}  // namespace crestline
