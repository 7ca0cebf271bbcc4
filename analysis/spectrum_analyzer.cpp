#include "analysis/spectrum_analyzer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "analysis/sample_rate.h"
#include "analysis/scope_buffer.h"
#include "platform/fft.h"

namespace crestline {
namespace {

constexpr double kMinWindowSeconds = 0.16;
constexpr int kMinWindowSamples = 4096;
constexpr double kMaxReleaseStep = 0.25;     // seconds of release one update may apply
constexpr double kSemitone = 1.0594630943592953;  // 2^(1/12)

// Levels are calibrated to a packed real FFT that returns twice the DFT:
// with that factor, a sine of amplitude A centred on a bin gives
// |2·X[k]| / Σ window = A.
constexpr float kPackedGain = 2.0f;

// 10·log10(x) to within 2e−5 dB, for the per-bin loop: the library's
// log10f was most of an update, and this form has no table, no branch and no
// comparison that could trap, so the loop vectorises. NaN counts as 0 (and so
// as silence); zero and denormals come out far below −200.
// x = 2^e · m with m in [√½, √2); ln m = 2·atanh(s), s = (m − 1)/(m + 1),
// |s| ≤ 0.172, whose series is done after four terms (the next one, 2·s⁹/9,
// is below 3e−8 neper).
inline float powerToDb(float x) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(x) & 0x7fffffffu;
    bits &= ((0x7f800000u - bits) >> 31) - 1u;                           // NaN → 0
    const std::uint32_t mantissa = bits & 0x007fffffu;
    const std::uint32_t aboveRoot = (mantissa + (0x800000u - 0x3504f4u)) >> 23;  // 1 when m ≥ √2
    const int exponent = static_cast<int>(bits >> 23) - 127 + static_cast<int>(aboveRoot);
    const float m = std::bit_cast<float>(mantissa | ((127u - aboveRoot) << 23));
    const float s = (m - 1.0f) / (m + 1.0f);
    const float s2 = s * s;
    const float ln = 2.0f * s * (1.0f + s2 * (1.0f / 3 + s2 * (1.0f / 5 + s2 * (1.0f / 7))));
    constexpr float kDbPerOctave = 3.0102999566398120f;  // 10·log10(2)
    constexpr float kDbPerNeper = 4.3429448190325175f;   // 10·log10(e)
    return static_cast<float>(exponent) * kDbPerOctave + ln * kDbPerNeper;
}

// The level of a bin's power: anything at or below 1e−20 (−200 dB) is −200.
inline float powerToLevel(float x) { return std::max(powerToDb(x), SpectrumAnalyzer::kFloorDb); }

// The largest of n > 0 finite values. Four running maxima instead of one:
// the spectrogram asks for 160 bands over some 3,400 bins per column, and a
// single chain of comparisons is bound by their latency.
float highest(const float* values, std::size_t n) {
    float m0 = values[0], m1 = m0, m2 = m0, m3 = m0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        m0 = std::max(m0, values[i]);
        m1 = std::max(m1, values[i + 1]);
        m2 = std::max(m2, values[i + 2]);
        m3 = std::max(m3, values[i + 3]);
    }
    for (; i < n; ++i) m0 = std::max(m0, values[i]);
    return std::max(std::max(m0, m1), std::max(m2, m3));
}

}  // namespace

SpectrumAnalyzer::SpectrumAnalyzer(float releasePerSecond, int padding, const Clock& clock)
    : clock_(clock), padding_(std::clamp(padding, 1, kMaxPadding)), releasePerSecond_(releasePerSecond) {}

SpectrumAnalyzer::~SpectrumAnalyzer() = default;

double SpectrumAnalyzer::binWidth() const { return fftSize_ > 0 ? sampleRate_ / fftSize_ : 0.0; }

void SpectrumAnalyzer::setHolding(bool on) {
    if (on == holding_) return;
    held_.assign(levels_.begin(), levels_.end());
    holding_ = on;
}

void SpectrumAnalyzer::prepare(double sampleRate) {
    int n = kMinWindowSamples;
    while (sampleRate * kMinWindowSeconds > n) n *= 2;
    if (n == size_ && sampleRate == sampleRate_) return;

    fft_.reset();
    sampleRate_ = sampleRate;
    size_ = n;
    fftSize_ = n * padding_;
    auto fft = std::make_unique<RealFft>(fftSize_);
    if (fft->valid()) fft_ = std::move(fft);

    // Periodic form (divisor n): the window tiles, and its sum is exact.
    window_.resize(static_cast<std::size_t>(n));
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
        const double theta = 2.0 * std::numbers::pi * i / n;
        const float w = static_cast<float>(0.35875 - 0.48829 * std::cos(theta) + 0.14128 * std::cos(2.0 * theta) -
                                           0.01168 * std::cos(3.0 * theta));
        window_[static_cast<std::size_t>(i)] = w;
        sum += w;
    }
    scale_ = 1.0f / sum;

    const std::size_t bins = static_cast<std::size_t>(fftSize_ / 2);
    left_.assign(static_cast<std::size_t>(n), 0.0f);
    right_.assign(static_cast<std::size_t>(n), 0.0f);
    power_.assign(bins, 0.0f);
    levels_.assign(bins, kFloorDb);
    lastUpdate_ = 0.0;
    // `held_` stays: the hold re-seeds itself when its length no longer fits.
}

void SpectrumAnalyzer::update(const ScopeBuffer& scope) {
    const double rate = scope.rate();
    if (!isSupportedSampleRate(rate)) return;
    prepare(rate);
    if (!fft_) return;

    const std::size_t copied =
        std::min(static_cast<std::size_t>(size_), static_cast<std::size_t>(scope.capacity()));
    // A single channel needs only its own ring.
    const bool needsLeft = channel_ != SpectrumChannel::right, needsRight = channel_ != SpectrumChannel::left;
    scope.copyLatest(size_, needsLeft ? std::span<float>(left_) : std::span<float>(),
                     needsRight ? std::span<float>(right_) : std::span<float>(), {});
    // A buffer shorter than the window leaves no stale audio behind.
    std::fill(left_.begin() + static_cast<std::ptrdiff_t>(copied), left_.end(), 0.0f);
    std::fill(right_.begin() + static_cast<std::ptrdiff_t>(copied), right_.end(), 0.0f);

    std::fill(power_.begin(), power_.end(), 0.0f);
    float divisor = 1.0f;
    switch (channel_) {
        case SpectrumChannel::stereo:
            transform(left_);
            transform(right_);
            divisor = 2.0f;
            break;
        case SpectrumChannel::left: transform(left_); break;
        case SpectrumChannel::right: transform(right_); break;
        case SpectrumChannel::mid:
            for (std::size_t i = 0; i < left_.size(); ++i) left_[i] = (left_[i] + right_[i]) * 0.5f;
            transform(left_);
            break;
        case SpectrumChannel::side:
            for (std::size_t i = 0; i < left_.size(); ++i) left_[i] = (left_[i] - right_[i]) * 0.5f;
            transform(left_);
            break;
    }

    const double now = clock_.now();
    const double dt = lastUpdate_ > 0.0 ? std::clamp(now - lastUpdate_, 0.0, kMaxReleaseStep) : 1.0;
    lastUpdate_ = now;

    // Two loops without a test per bin rather than one with: they vectorise.
    const float gain = (scale_ * kPackedGain) * (scale_ * kPackedGain) / divisor;
    const std::size_t bins = levels_.size();
    float* levels = levels_.data();
    const float* power = power_.data();
    if (std::isfinite(releasePerSecond_)) {
        const float fall = releasePerSecond_ * static_cast<float>(dt);
        for (std::size_t k = 0; k < bins; ++k) {
            levels[k] = std::max(powerToLevel(gain * power[k]), levels[k] - fall);
        }
    } else {
        for (std::size_t k = 0; k < bins; ++k) levels[k] = powerToLevel(gain * power[k]);
    }

    if (holding_) {
        if (held_.size() != bins) held_.assign(levels_.begin(), levels_.end());
        for (std::size_t k = 0; k < bins; ++k) held_[k] = std::max(held_[k], levels_[k]);
    }
}

void SpectrumAnalyzer::transform(const std::vector<float>& samples) {
    // The padded tail of the input stays zero: the plan preserves its input.
    float* in = fft_->input().data();
    for (int i = 0; i < size_; ++i) in[i] = samples[static_cast<std::size_t>(i)] * window_[static_cast<std::size_t>(i)];
    fft_->execute();
    const std::complex<float>* out = fft_->output().data();
    // Bin 0 is left out: the packed format the levels follow shares that slot
    // between DC and Nyquist and drops both.
    const std::size_t bins = power_.size();
    for (std::size_t k = 1; k < bins; ++k) {
        power_[k] += out[k].real() * out[k].real() + out[k].imag() * out[k].imag();
    }
}

float SpectrumAnalyzer::level(double from, double to, double tilt) const {
    if (size_ < 1 || !std::isfinite(from) || !std::isfinite(to)) return kFloorDb;
    const double width = binWidth();
    const double a = from / width, b = to / width;
    const int half = fftSize_ / 2;
    float v = kFloorDb;
    if (b - a >= 1.0) {
        // Bounds are clamped as doubles so that no conversion overflows.
        const double first = std::max(std::ceil(a), 1.0);
        const double last = std::min(static_cast<double>(half - 1), std::floor(b));
        if (last < first) return kFloorDb;
        v = std::max(kFloorDb, highest(levels_.data() + static_cast<std::ptrdiff_t>(first),
                                       static_cast<std::size_t>(last - first) + 1));
    } else {
        const double c = (a + b) * 0.5;
        const int i = static_cast<int>(std::clamp(std::trunc(c), 1.0, static_cast<double>(half - 3)));
        const double u = std::clamp(c - i, 0.0, 1.0);
        const double p0 = levels_[static_cast<std::size_t>(i - 1)], p1 = levels_[static_cast<std::size_t>(i)];
        const double p2 = levels_[static_cast<std::size_t>(i + 1)], p3 = levels_[static_cast<std::size_t>(i + 2)];
        const double spline = 0.5 * (2.0 * p1 + (p2 - p0) * u + (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * u * u +
                                     (3.0 * p1 - p0 - 3.0 * p2 + p3) * u * u * u);
        v = static_cast<float>(std::clamp(spline, std::min(p1, p2), std::max(p1, p2)));
    }
    // No tilt is defined for a band that reaches down to 0 Hz or below.
    if (tilt != 0.0 && from > 0.0 && to > 0.0) {
        v += static_cast<float>(std::log2(std::sqrt(from * to) / 1000.0) * tilt);
    }
    return v;
}

double SpectrumAnalyzer::peakFrequency(double near) const {
    if (size_ < 1 || !std::isfinite(near)) return near;
    const std::vector<float>& curve = holding_ && held_.size() == levels_.size() ? held_ : levels_;
    const double width = binWidth();
    const int half = fftSize_ / 2;
    const double lo = std::max(std::trunc(near / kSemitone / width), 1.0);
    const double hi = std::min(static_cast<double>(half - 2), std::ceil(near * kSemitone / width));
    if (hi < lo) return near;
    int k = static_cast<int>(lo);
    for (int j = k + 1; j <= static_cast<int>(hi); ++j) {
        if (curve[static_cast<std::size_t>(j)] > curve[static_cast<std::size_t>(k)]) k = j;
    }
    if (k < 1 || k >= half - 1) return k * width;
    const double p0 = curve[static_cast<std::size_t>(k - 1)], p1 = curve[static_cast<std::size_t>(k)],
                 p2 = curve[static_cast<std::size_t>(k + 1)];
    const double d = p0 - 2.0 * p1 + p2;
    if (!(d < 0.0)) return k * width;
    const double delta = std::clamp((p0 - p2) * 0.5 / d, -0.5, 0.5);
    return (k + delta) * width;
}

}  // namespace crestline
