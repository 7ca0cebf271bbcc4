#include "analysis/loudness_filters.h"

#include <cmath>
#include <cstring>

#include "analysis/simd.h"

namespace crestline {
namespace {

using Double2 = double __attribute__((vector_size(16)));  // both channels of one frame
using simd::Float4;

constexpr int kChunk = 256;  // frames per pass of pushBlock; its buffer lives on the stack
constexpr int kPrefix = TruePeakDetector::kTaps - 1;

// High shelf of the BS.1770 pre-filter: f0 = 1681.97 Hz (π·f0 below), +4 dB.
constexpr double kShelfPiF0 = 5284.078578647628;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kShelfVh = 1.5848647011308556;
constexpr double kShelfVb = 1.2587209302325617;
// RLB high-pass: f0 = 38.14 Hz.
constexpr double kHighpassPiF0 = 119.8061151453059;
constexpr double kHighpassQ = 0.5003270373238773;

const auto& kC = TruePeakDetector::coefficients;

// The four phases over one window (oldest sample first) and the sample
// itself, maxima taken in the documented order.
inline float evaluateWindow(const float* window, float x) {
    float s[TruePeakDetector::kPhases];
    for (int p = 0; p < TruePeakDetector::kPhases; ++p) {
        float acc = 0.0f;
        for (int j = 0; j < TruePeakDetector::kTaps; ++j) acc += kC[p * TruePeakDetector::kTaps + j] * window[j];
        s[p] = acc;
    }
    float m = std::fabs(x);
    for (float v : s) {
        const float a = std::fabs(v);
        m = m < a ? a : m;
    }
    return m;
}

// buffer holds kPrefix older samples followed by `frames` new ones.
// The interpolation over a block with `V` holding consecutive frames, two
// vectors of them per pass; each lane sums its taps in the order j = 0...11,
// so every width gives the bits of evaluateWindow. Everything here is
// inlined into one function per width: vectors never cross a call, so the
// ABI note about 32-byte vectors in a build without AVX does not apply (it
// is reported at the end of the file, hence no pop).
#pragma GCC diagnostic ignored "-Wpsabi"

using Float8 = float __attribute__((vector_size(32)));
using Int8 = int __attribute__((vector_size(32)));

template <class V>
struct Broadcast {
    V c[TruePeakDetector::kTaps * TruePeakDetector::kPhases];
};

// Each coefficient repeated over all lanes (0 + c is exactly c).
template <class V>
constexpr Broadcast<V> broadcast() {
    Broadcast<V> t{};
    for (std::size_t k = 0; k < kC.size(); ++k) t.c[k] = V{} + kC[k];
    return t;
}

template <class V>
constexpr Broadcast<V> kBroadcast = broadcast<V>();

template <class V>
__attribute__((always_inline)) inline V loadLanes(const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V, class I>
__attribute__((always_inline)) inline V absLanes(V v) {
    I bits;
    std::memcpy(&bits, &v, sizeof v);
    bits &= 0x7fffffff;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// max(|x|, |s0|, |s1|, |s2|, |s3|) in that order, lane by lane.
template <class V, class I>
__attribute__((always_inline)) inline void storeResults(const float* frame, V s0, V s1, V s2, V s3, float* out) {
    V m = absLanes<V, I>(loadLanes<V>(frame + kPrefix));
    V a = absLanes<V, I>(s0);
    m = m < a ? a : m;
    a = absLanes<V, I>(s1);
    m = m < a ? a : m;
    a = absLanes<V, I>(s2);
    m = m < a ? a : m;
    a = absLanes<V, I>(s3);
    m = m < a ? a : m;
    std::memcpy(out, &m, sizeof m);
}

// Returns the number of frames done; the caller finishes the rest one by one.
template <class V, class I>
__attribute__((always_inline)) inline int interpolateLanes(const float* buffer, int frames, float* results) {
    constexpr int kLanes = static_cast<int>(sizeof(V) / sizeof(float));
    constexpr int kTaps = TruePeakDetector::kTaps;
    const V* c = kBroadcast<V>.c;
    int i = 0;
    // Eight named accumulators, so that they stay in registers.
    for (; i + 2 * kLanes <= frames; i += 2 * kLanes) {
        V p0a{}, p0b{}, p1a{}, p1b{}, p2a{}, p2b{}, p3a{}, p3b{};
        for (int j = 0; j < kTaps; ++j) {
            const V wa = loadLanes<V>(buffer + i + j);
            const V wb = loadLanes<V>(buffer + i + kLanes + j);
            p0a += c[j] * wa;
            p0b += c[j] * wb;
            p1a += c[kTaps + j] * wa;
            p1b += c[kTaps + j] * wb;
            p2a += c[2 * kTaps + j] * wa;
            p2b += c[2 * kTaps + j] * wb;
            p3a += c[3 * kTaps + j] * wa;
            p3b += c[3 * kTaps + j] * wb;
        }
        storeResults<V, I>(buffer + i, p0a, p1a, p2a, p3a, results + i);
        storeResults<V, I>(buffer + i + kLanes, p0b, p1b, p2b, p3b, results + i + kLanes);
    }
    return i;
}

int interpolateFourLanes(const float* buffer, int frames, float* results) {
    return interpolateLanes<Float4, simd::Int4>(buffer, frames, results);
}

__attribute__((target("avx2"))) int interpolateEightLanes(const float* buffer, int frames, float* results) {
    return interpolateLanes<Float8, Int8>(buffer, frames, results);
}

// buffer holds kPrefix older samples followed by `frames` new ones.
void interpolate(const float* buffer, int frames, float* results, int lanes) {
    int i = lanes == 8 ? interpolateEightLanes(buffer, frames, results) : interpolateFourLanes(buffer, frames, results);
    for (; i < frames; ++i) results[i] = evaluateWindow(buffer + i, buffer[i + kPrefix]);
}

int widestLanes() {
    static const int lanes = __builtin_cpu_supports("avx2") ? 8 : 4;
    return lanes;
}

}  // namespace

KWeighting::KWeighting(double sampleRate) {
    {
        const double k = std::tan(kShelfPiF0 / sampleRate);
        const double a0 = 1.0 + k / kShelfQ + k * k;
        shelf.b0 = (kShelfVh + kShelfVb * k / kShelfQ + k * k) / a0;
        shelf.b1 = 2.0 * (k * k - kShelfVh) / a0;
        shelf.b2 = (kShelfVh - kShelfVb * k / kShelfQ + k * k) / a0;
        shelf.a1 = 2.0 * (k * k - 1.0) / a0;
        shelf.a2 = (1.0 - k / kShelfQ + k * k) / a0;
    }
    {
        const double k = std::tan(kHighpassPiF0 / sampleRate);
        const double a0 = 1.0 + k / kHighpassQ + k * k;
        highpass.b0 = 1.0;
        highpass.b1 = -2.0;
        highpass.b2 = 1.0;
        highpass.a1 = 2.0 * (k * k - 1.0) / a0;
        highpass.a2 = (1.0 - k / kHighpassQ + k * k) / a0;
    }
}

void KWeighting::mendState() {
    for (Biquad* b : {&shelf, &highpass}) {
        if (!std::isfinite(b->z1) || !std::isfinite(b->z2)) b->z1 = b->z2 = 0.0;
    }
}

void weightedEnergies(KWeighting& left, KWeighting& right, const float* l, const float* r, int frames,
                      double* energy) {
    const Biquad& ls = left.shelf;
    const Biquad& rs = right.shelf;
    const Biquad& lh = left.highpass;
    const Biquad& rh = right.highpass;
    const Double2 sb0{ls.b0, rs.b0}, sb1{ls.b1, rs.b1}, sb2{ls.b2, rs.b2}, sa1{ls.a1, rs.a1}, sa2{ls.a2, rs.a2};
    const Double2 hb0{lh.b0, rh.b0}, hb1{lh.b1, rh.b1}, hb2{lh.b2, rh.b2}, ha1{lh.a1, rh.a1}, ha2{lh.a2, rh.a2};
    Double2 sz1{ls.z1, rs.z1}, sz2{ls.z2, rs.z2}, hz1{lh.z1, rh.z1}, hz2{lh.z2, rh.z2};
    for (int i = 0; i < frames; ++i) {
        const Double2 x{static_cast<double>(l[i]), static_cast<double>(r[i])};
        const Double2 y = sb0 * x + sz1;
        sz1 = sz2 + (sb1 * x - sa1 * y);
        sz2 = sb2 * x - sa2 * y;
        const Double2 k = hb0 * y + hz1;
        hz1 = hz2 + (hb1 * y - ha1 * k);
        hz2 = hb2 * y - ha2 * k;
        const Double2 sq = k * k;
        energy[i] = sq[0] + sq[1];
    }
    left.shelf.z1 = sz1[0];
    left.shelf.z2 = sz2[0];
    right.shelf.z1 = sz1[1];
    right.shelf.z2 = sz2[1];
    left.highpass.z1 = hz1[0];
    left.highpass.z2 = hz2[0];
    right.highpass.z1 = hz1[1];
    right.highpass.z2 = hz2[1];
}

float TruePeakDetector::push(float x) {
    history[static_cast<std::size_t>(position)] = x;
    history[static_cast<std::size_t>(position + kTaps)] = x;
    position = position + 1 == kTaps ? 0 : position + 1;
    const float result = evaluateWindow(history.data() + position, x);
    if (peak < result) peak = result;
    return result;
}

int TruePeakDetector::blockLanes() { return widestLanes(); }

void TruePeakDetector::interpolateWithLanes(const float* samples, int frames, float* results, int lanes) {
    interpolate(samples, frames, results, lanes == 8 && widestLanes() == 8 ? 8 : 4);
}

void TruePeakDetector::pushBlock(const float* x, int frames, float* results) {
    float buffer[kPrefix + kChunk];
    for (int done = 0; done < frames;) {
        const int n = frames - done < kChunk ? frames - done : kChunk;
        std::memcpy(buffer, history.data() + position + 1, kPrefix * sizeof(float));
        std::memcpy(buffer + kPrefix, x + done, static_cast<std::size_t>(n) * sizeof(float));
        interpolate(buffer, n, results + done, widestLanes());
        // The newest twelve, oldest first, become the ring with its oldest at slot 0.
        std::memcpy(history.data(), buffer + n - 1, kTaps * sizeof(float));
        std::memcpy(history.data() + kTaps, buffer + n - 1, kTaps * sizeof(float));
        position = 0;
        done += n;
    }
}

}  // namespace crestline
