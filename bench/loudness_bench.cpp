// Loudness and peak metering of ten minutes of stereo 48 kHz noise with
// changing level, in 512-frame blocks, against libebur128 (integrated,
// range, true peak, momentary, short-term) on the same data in the same run.
// The counter x_real_time is seconds of audio per second of work.
#include <benchmark/benchmark.h>
#include <ebur128.h>

#include <cmath>
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

}  // namespace

BENCHMARK(BM_CrestlineLoudnessAndPeak)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Libebur128)->Unit(benchmark::kMillisecond)->MinTime(2.0);
