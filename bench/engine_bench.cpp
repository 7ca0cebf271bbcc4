// The engine's block handler on the capture queue: one second of 48 kHz
// stereo in 480-frame blocks (what a 10 ms capture fragment brings) through
// the loudness meter, the peak meter and the scope buffer, in that order and
// with the non-finite scan, exactly as a live tap feeds it. Also each
// analyser alone, and the tap's channel extraction for an 8-channel device.
//
// Counters: x_real_time is seconds of audio per second of work;
// work_per_audio_s is the work one second of live 48 kHz capture costs, so
// its share of one core is that time divided by one second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/block_handler.h"
#include "analysis/loudness_meter.h"
#include "analysis/peak_meter.h"
#include "analysis/scope_buffer.h"
#include "capture/process_tap.h"
#include "platform/simulated_sound_server.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int kFrames = 48000;  // one second
constexpr int kBlock = 480;

struct Second {
    std::vector<float> left, right;
};

// Music-like material: two partials and noise, channels partly correlated.
const Second& second() {
    static const Second s = [] {
        Second out;
        out.left.resize(kFrames);
        out.right.resize(kFrames);
        std::uint64_t state = 0x9e3779b97f4a7c15ull;
        const auto noise = [&state] {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            return static_cast<float>(static_cast<double>(state >> 11) * 0x1.0p-53 * 2.0 - 1.0);
        };
        for (int i = 0; i < kFrames; ++i) {
            const double t = i / kRate;
            const auto tone = static_cast<float>(0.3 * std::sin(2 * M_PI * 110.0 * t) + 0.1 * std::sin(2 * M_PI * 2500.0 * t));
            const auto k = static_cast<std::size_t>(i);
            out.left[k] = tone + 0.05f * noise();
            out.right[k] = 0.8f * tone + 0.05f * noise();
        }
        return out;
    }();
    return s;
}

void report(benchmark::State& state) {
    const double seconds = static_cast<double>(state.iterations());
    state.counters["x_real_time"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    // Work per second of audio: 1 ms here is 0.1 % of one core.
    state.counters["work_per_audio_s"] =
        benchmark::Counter(seconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <typename Block>
void perSecond(benchmark::State& state, Block&& block) {
    const auto& s = second();
    for (auto _ : state) {
        for (int at = 0; at < kFrames; at += kBlock) block(s.left.data() + at, s.right.data() + at, kBlock);
        benchmark::ClobberMemory();
    }
    report(state);
}

void BM_BlockHandler(benchmark::State& state) {
    crestline::LoudnessMeter meter;
    meter.configure(kRate);
    crestline::PeakMeter peaks;
    crestline::ScopeBuffer scope(262144);
    scope.configure(kRate);
    crestline::BlockHandler handler(meter, peaks, &scope);
    perSecond(state, handler);
    benchmark::DoNotOptimize(meter.reading());
}
BENCHMARK(BM_BlockHandler)->Unit(benchmark::kMicrosecond);

void BM_LoudnessMeterOnly(benchmark::State& state) {
    crestline::LoudnessMeter meter;
    meter.configure(kRate);
    perSecond(state, [&](const float* l, const float* r, int n) { meter.process(l, r, n); });
}
BENCHMARK(BM_LoudnessMeterOnly)->Unit(benchmark::kMicrosecond);

void BM_PeakMeterOnly(benchmark::State& state) {
    crestline::PeakMeter peaks;
    perSecond(state, [&](const float* l, const float* r, int n) { peaks.process(l, r, n); });
}
BENCHMARK(BM_PeakMeterOnly)->Unit(benchmark::kMicrosecond);

void BM_ScopeBufferOnly(benchmark::State& state) {
    crestline::ScopeBuffer scope(262144);
    scope.configure(kRate);
    perSecond(state, [&](const float* l, const float* r, int n) { scope.write(l, r, n); });
}
BENCHMARK(BM_ScopeBufferOnly)->Unit(benchmark::kMicrosecond);

// The tap's side of a callback: picking pair 3 of an 8-channel block and
// de-interleaving it, driven through the simulated server's thread hop.
void BM_TapPairExtraction8ch(benchmark::State& state) {
    auto sim = std::make_shared<crestline::SimulatedSoundServer>();
    crestline::ScopedSoundServer use(sim);
    sim->addSinkInput(sim->addSink("octo", 8), 1);
    crestline::ProcessTap tap(1, crestline::TapMode::tapOnly, crestline::TapSource::pair(3));
    tap.prepare();
    float sink = 0.0f;
    tap.start([&](const float* l, const float* r, int n) { sink += l[n - 1] + r[0]; });
    const std::vector<float> block(static_cast<std::size_t>(kBlock) * 8, 0.25f);
    for (auto _ : state) {
        for (int at = 0; at < kFrames; at += kBlock) sim->deliver(block, 8);
    }
    benchmark::DoNotOptimize(sink);
    report(state);
}
BENCHMARK(BM_TapPairExtraction8ch)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
