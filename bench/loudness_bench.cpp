// Loudness and peak metering of ten minutes of stereo 48 kHz noise with
// changing level, in 512-frame blocks, against libebur128 (integrated,
// range, true peak, momentary, short-term) on the same data in the same run.
// Also the same material as a 5.1 file (the stereo pair, a centre and two
// surrounds made from it, an LFE) through the multichannel entry, as
// crestline-meter measures surround files, against libebur128 in 5.1.
// The counter x_real_time is seconds of audio per second of work.
#include <benchmark/benchmark.h>
#include <ebur128.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "analysis/loudness_meter.h"
#include "analysis/peak_meter.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int kSeconds = 600;
constexpr int kFrames = kSeconds * 48000;
constexpr int kBlock = 512;

struct Material {
    std::vector<float> left, right, interleaved;
};

// Six channels in file order L R C LFE Ls Rs, planar and interleaved.
struct Surround {
    std::vector<std::vector<float>> planar;
    std::vector<float> interleaved;
};

// Noise whose level moves every quarter second between −40 and 0 dBFS,
// with partly correlated channels: gates, range and overs all have work.
const Material& material() {
    static const Material m = [] {
        Material out;
        out.left.resize(kFrames);
        out.right.resize(kFrames);
        out.interleaved.resize(2 * static_cast<std::size_t>(kFrames));
        std::uint64_t state = 0x9e3779b97f4a7c15ull;
        const auto next = [&state] {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            return static_cast<float>(static_cast<double>(state >> 11) * 0x1.0p-53 * 2.0 - 1.0);
        };
        float gain = 0.5f;
        for (int i = 0; i < kFrames; ++i) {
            if (i % 12000 == 0) gain = static_cast<float>(std::pow(10.0, -2.0 * (0.5 * next() + 0.5)));
            const float a = next(), b = next();
            const auto k = static_cast<std::size_t>(i);
            out.left[k] = gain * a;
            out.right[k] = gain * (0.6f * a + 0.4f * b);
            out.interleaved[2 * k] = out.left[k];
            out.interleaved[2 * k + 1] = out.right[k];
        }
        return out;
    }();
    return m;
}

const Surround& surround() {
    static const Surround s = [] {
        const Material& m = material();
        Surround out;
        out.planar.assign(6, std::vector<float>(kFrames));
        out.interleaved.resize(6 * static_cast<std::size_t>(kFrames));
        for (std::size_t i = 0; i < static_cast<std::size_t>(kFrames); ++i) {
            const float l = m.left[i], r = m.right[i];
            const float frame[6] = {l, r, 0.5f * (l + r), 0.25f * l, 0.7f * r, 0.7f * l};
            for (std::size_t c = 0; c < 6; ++c) {
                out.planar[c][i] = frame[c];
                out.interleaved[6 * i + c] = frame[c];
            }
        }
        return out;
    }();
    return s;
}

void reportRate(benchmark::State& state) {
    state.counters["x_real_time"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_CrestlineLoudnessAndPeak(benchmark::State& state) {
    const Material& m = material();
    for (auto _ : state) {
        crestline::LoudnessMeter meter;
        crestline::PeakMeter peaks;
        meter.configure(kRate);
        for (int done = 0; done < kFrames; done += kBlock) {
            const int n = std::min(kBlock, kFrames - done);
            meter.process(m.left.data() + done, m.right.data() + done, n);
            peaks.process(m.left.data() + done, m.right.data() + done, n);
        }
        const crestline::LoudnessReading r = meter.reading();
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(peaks.take());
        state.counters["integrated"] = r.integrated;
        state.counters["lra"] = r.loudnessRange;
        state.counters["true_peak"] = r.truePeak;
    }
    reportRate(state);
}

void BM_Libebur128(benchmark::State& state) {
    const Material& m = material();
    for (auto _ : state) {
        ebur128_state* st = ebur128_init(2, static_cast<unsigned long>(kRate),
                                         EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK |
                                             EBUR128_MODE_M | EBUR128_MODE_S);
        for (int done = 0; done < kFrames; done += kBlock) {
            const int n = std::min(kBlock, kFrames - done);
            ebur128_add_frames_float(st, m.interleaved.data() + 2 * static_cast<std::size_t>(done),
                                     static_cast<std::size_t>(n));
        }
        double integrated = 0.0, range = 0.0, peakL = 0.0, peakR = 0.0, momentary = 0.0, shortTerm = 0.0;
        ebur128_loudness_global(st, &integrated);
        ebur128_loudness_range(st, &range);
        ebur128_true_peak(st, 0, &peakL);
        ebur128_true_peak(st, 1, &peakR);
        ebur128_loudness_momentary(st, &momentary);
        ebur128_loudness_shortterm(st, &shortTerm);
        benchmark::DoNotOptimize(momentary + shortTerm);
        ebur128_destroy(&st);
        state.counters["integrated"] = integrated;
        state.counters["lra"] = range;
        state.counters["true_peak"] = 20.0 * std::log10(std::max(peakL, peakR));
    }
    reportRate(state);
}

void BM_CrestlineSurround51(benchmark::State& state) {
    const Surround& s = surround();
    const double weights[6] = {1.0, 1.0, 1.0, 0.0, 1.41, 1.41};
    for (auto _ : state) {
        crestline::LoudnessMeter meter;
        meter.configureChannels(kRate, weights, 0, 1);
        const float* at[6];
        for (int done = 0; done < kFrames; done += kBlock) {
            for (std::size_t c = 0; c < 6; ++c) at[c] = s.planar[c].data() + done;
            meter.processChannels(at, std::min(kBlock, kFrames - done));
        }
        const crestline::LoudnessReading r = meter.reading();
        benchmark::DoNotOptimize(r);
        state.counters["integrated"] = r.integrated;
        state.counters["lra"] = r.loudnessRange;
        state.counters["true_peak"] = r.truePeak;
    }
    reportRate(state);
}

void BM_Libebur128Surround51(benchmark::State& state) {
    const Surround& s = surround();
    for (auto _ : state) {
        ebur128_state* st = ebur128_init(6, static_cast<unsigned long>(kRate),
                                         EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK |
                                             EBUR128_MODE_M | EBUR128_MODE_S);
        // Its default map for six channels is ours: L R C LFE (unused) Ls Rs.
        for (int done = 0; done < kFrames; done += kBlock) {
            const int n = std::min(kBlock, kFrames - done);
            ebur128_add_frames_float(st, s.interleaved.data() + 6 * static_cast<std::size_t>(done),
                                     static_cast<std::size_t>(n));
        }
        double integrated = 0.0, range = 0.0, peak = 0.0;
        ebur128_loudness_global(st, &integrated);
        ebur128_loudness_range(st, &range);
        for (unsigned c = 0; c < 6; ++c) {
            double p = 0.0;
            ebur128_true_peak(st, c, &p);
            peak = std::max(peak, p);
        }
        ebur128_destroy(&st);
        state.counters["integrated"] = integrated;
        state.counters["lra"] = range;
        state.counters["true_peak"] = 20.0 * std::log10(peak);
    }
    reportRate(state);
}

}  // namespace

BENCHMARK(BM_CrestlineSurround51)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Libebur128Surround51)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CrestlineLoudnessAndPeak)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Libebur128)->Unit(benchmark::kMillisecond)->MinTime(2.0);
