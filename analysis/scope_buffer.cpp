#include "analysis/scope_buffer.h"

#include <algorithm>
#include <cmath>

#include "analysis/sample_rate.h"

namespace crestline {
namespace {

// 2π times the corner frequencies: trigger 150 Hz, band split 200 Hz and 2500 Hz.
constexpr double kTriggerRadians = 942.4777960769379;
constexpr double kLowRadians = 1256.6370614359173;
constexpr double kTopRadians = 15707.963267948966;

std::array<float, 8> extremes(const std::array<float, ScopeBuffer::kChunkFloats>& summary) {
    std::array<float, 8> out;
    std::copy_n(summary.begin(), out.size(), out.begin());
    return out;
}

void keepFinite(float& state) {
    if (!std::isfinite(state)) state = 0.0f;
}

}  // namespace

ScopeBuffer::ScopeBuffer(int capacity)
    : capacity_(std::max(capacity, 1)),
      left_(static_cast<std::size_t>(capacity_)),
      right_(static_cast<std::size_t>(capacity_)),
      trigger_(static_cast<std::size_t>(capacity_)),
      overview_(static_cast<std::size_t>(kOverviewCapacity) * kChunkFloats) {}

void ScopeBuffer::configure(double sampleRate) {
    if (!isSupportedSampleRate(sampleRate)) return;
    std::scoped_lock lock(mutex_);
    rate_ = sampleRate;
    coefficient_ = static_cast<float>(std::exp(-kTriggerRadians / sampleRate));
    lowCoefficient_ = static_cast<float>(std::exp(-kLowRadians / sampleRate));
    topCoefficient_ = static_cast<float>(std::exp(-kTopRadians / sampleRate));
    lowpass1_ = 0.0f;
    lowpass2_ = 0.0f;
}

void ScopeBuffer::write(const float* left, const float* right, int frames) {
    if (frames < 1 || left == nullptr || right == nullptr) return;
    std::scoped_lock lock(mutex_);

    // Filter states live in locals for the block and go back at its end.
    const float c = coefficient_, oneMinusC = 1.0f - c;
    const float a = lowCoefficient_, oneMinusA = 1.0f - a;
    const float t = topCoefficient_, oneMinusT = 1.0f - t;
    float lp1 = lowpass1_, lp2 = lowpass2_;
    float lowA = lowA_, lowB = lowB_;
    float midHpA = midHpA_, midHpB = midHpB_, midLpA = midLpA_, midLpB = midLpB_;
    float highA = highA_, highB = highB_;
    float energyLow = bandEnergy_[0], energyMid = bandEnergy_[1], energyHigh = bandEnergy_[2];
    float* ringLeft = left_.data();
    float* ringRight = right_.data();
    float* ringTrigger = trigger_.data();
    int w = writeIndex_;
    bool nonZero = false;

    // Runs never cross a chunk boundary or the end of the rings, so the
    // inner loop has no wrap-around and no flush.
    int i = 0;
    while (i < frames) {
        if (pendingFrames_ == 0) {
            const float l = left[i], r = right[i];
            const float m = (l + r) * 0.5f, s = (l - r) * 0.5f;
            pending_ = {l, l, r, r, m, m, s, s, 0.0f, 0.0f, 0.0f};
        }
        const int run = std::min({frames - i, kChunkFrames - pendingFrames_, capacity_ - w});
        // The chunk's eight extremes, in summary order (min, max of L, R, M, S).
        auto [minL, maxL, minR, maxR, minM, maxM, minS, maxS] = extremes(pending_);
        for (int j = 0; j < run; ++j) {
            const float l = left[i + j], r = right[i + j];
            ringLeft[w + j] = l;
            ringRight[w + j] = r;
            const float m = (l + r) * 0.5f;
            lp1 = oneMinusC * m + c * lp1;
            lp2 = oneMinusC * lp1 + c * lp2;
            ringTrigger[w + j] = lp2;
            nonZero |= (l != 0.0f) | (r != 0.0f);

            const float s = (l - r) * 0.5f;
            minL = l < minL ? l : minL;
            maxL = l > maxL ? l : maxL;
            minR = r < minR ? r : minR;
            maxR = r > maxR ? r : maxR;
            minM = m < minM ? m : minM;
            maxM = m > maxM ? m : maxM;
            minS = s < minS ? s : minS;
            maxS = s > maxS ? s : maxS;

            lowA = oneMinusA * m + a * lowA;
            lowB = oneMinusA * lowA + a * lowB;
            const float low = lowB;

            midHpA = oneMinusA * m + a * midHpA;
            const float h1 = m - midHpA;
            midHpB = a * midHpB + oneMinusA * h1;
            const float h2 = h1 - midHpB;
            midLpA = t * midLpA + oneMinusT * h2;
            midLpB = t * midLpB + oneMinusT * midLpA;
            const float mid = midLpB;

            highA = oneMinusT * m + t * highA;
            const float g1 = m - highA;
            highB = t * highB + oneMinusT * g1;
            const float high = g1 - highB;

            energyLow += low * low;
            energyMid += mid * mid;
            energyHigh += high * high;
        }
        const std::array<float, 8> extremesNow{minL, maxL, minR, maxR, minM, maxM, minS, maxS};
        std::copy(extremesNow.begin(), extremesNow.end(), pending_.begin());

        i += run;
        w += run;
        if (w == capacity_) w = 0;
        pendingFrames_ += run;
        if (pendingFrames_ == kChunkFrames) {
            constexpr float kInverseChunk = 1.0f / static_cast<float>(kChunkFrames);
            pending_[Chunk::lowRms] = std::sqrt(energyLow * kInverseChunk);
            pending_[Chunk::midRms] = std::sqrt(energyMid * kInverseChunk);
            pending_[Chunk::highRms] = std::sqrt(energyHigh * kInverseChunk);
            energyLow = energyMid = energyHigh = 0.0f;
            finishChunkLocked();
        }
    }

    // A non-finite sample would poison the filters for good; the chunk that
    // saw it is lost, the ones after it are not.
    for (float* state : {&lp1, &lp2, &lowA, &lowB, &midHpA, &midHpB, &midLpA, &midLpB, &highA, &highB,
                         &energyLow, &energyMid, &energyHigh}) {
        keepFinite(*state);
    }
    lowpass1_ = lp1;
    lowpass2_ = lp2;
    lowA_ = lowA;
    lowB_ = lowB;
    midHpA_ = midHpA;
    midHpB_ = midHpB;
    midLpA_ = midLpA;
    midLpB_ = midLpB;
    highA_ = highA;
    highB_ = highB;
    bandEnergy_ = {energyLow, energyMid, energyHigh};
    writeIndex_ = w;
    totalFrames_ += static_cast<std::uint64_t>(frames);
    if (nonZero) ++activity_;
}

void ScopeBuffer::finishChunkLocked() {
    std::copy(pending_.begin(), pending_.end(),
              overview_.begin() + static_cast<std::ptrdiff_t>(overviewIndex_) * kChunkFloats);
    overviewIndex_ = overviewIndex_ + 1 == kOverviewCapacity ? 0 : overviewIndex_ + 1;
    ++totalChunks_;
    pendingFrames_ = 0;
}

std::uint64_t ScopeBuffer::copyLatest(int count, std::span<float> left, std::span<float> right,
                                      std::span<float> trigger) const {
    std::size_t room = static_cast<std::size_t>(capacity_);
    for (const std::span<float> out : {left, right, trigger}) {
        if (!out.empty()) room = std::min(room, out.size());
    }
    const int n = static_cast<int>(std::min<std::size_t>(
        static_cast<std::size_t>(std::clamp(count, 0, capacity_)), room));
    std::scoped_lock lock(mutex_);
    int start = writeIndex_ - n;
    if (start < 0) start += capacity_;
    const int first = std::min(n, capacity_ - start);  // up to the end of the rings
    const auto copyRing = [&](const std::vector<float>& ring, std::span<float> out) {
        if (out.empty()) return;
        std::copy_n(ring.begin() + start, first, out.begin());
        std::copy_n(ring.begin(), n - first, out.begin() + first);
    };
    copyRing(left_, left);
    copyRing(right_, right);
    copyRing(trigger_, trigger);
    return totalFrames_;
}

std::uint64_t ScopeBuffer::copyOverview(int count, std::vector<float>& out) const {
    const int n = std::clamp(count, 0, kOverviewCapacity);
    const std::size_t floats = static_cast<std::size_t>(n) * kChunkFloats;
    // Sized before taking the lock: the capture queue never waits on an allocation.
    if (out.size() < floats) out.assign(floats, 0.0f);
    std::scoped_lock lock(mutex_);
    int start = overviewIndex_ - n;
    if (start < 0) start += kOverviewCapacity;
    const int first = std::min(n, kOverviewCapacity - start);
    const auto slot = [this](int chunk) {
        return overview_.begin() + static_cast<std::ptrdiff_t>(chunk) * kChunkFloats;
    };
    std::copy(slot(start), slot(start + first), out.begin());
    std::copy(slot(0), slot(n - first), out.begin() + static_cast<std::ptrdiff_t>(first) * kChunkFloats);
    return totalChunks_;
}

void ScopeBuffer::clearOverview() {
    std::scoped_lock lock(mutex_);
    std::fill(overview_.begin(), overview_.end(), 0.0f);
}

double ScopeBuffer::rate() const {
    std::scoped_lock lock(mutex_);
    return rate_;
}

std::uint64_t ScopeBuffer::activity() const {
    std::scoped_lock lock(mutex_);
    return activity_;
}

std::uint64_t ScopeBuffer::totalFrames() const {
    std::scoped_lock lock(mutex_);
    return totalFrames_;
}

std::uint64_t ScopeBuffer::totalChunks() const {
    std::scoped_lock lock(mutex_);
    return totalChunks_;
}

}  // namespace crestline
