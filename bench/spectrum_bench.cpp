// Spectrum analyzer and spectrogram recorder, each next to the bare FFTs it
// runs, so the overhead around the transforms shows as a ratio.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "analysis/scope_buffer.h"
#include "analysis/spectrum_analyzer.h"
#include "platform/fft.h"

namespace {

using namespace crestline;

void fillScope(ScopeBuffer& scope, double rate) {
    scope.configure(rate);
    std::vector<float> left(65536), right(65536);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(0.5 * std::sin(i * 0.0575) + 0.01 * std::sin(i * 1.3));
        right[i] = static_cast<float>(0.5 * std::cos(i * 0.0131) + 0.02 * std::sin(i * 2.1));
    }
    scope.write(left.data(), right.data(), 65536);
}

// The view's analyzer: 48 kHz stereo, padding 2 → two 16,384-point FFTs.
void BM_SpectrumUpdate48kStereoPadding2(benchmark::State& state) {
    ScopeBuffer scope;
    fillScope(scope, 48000.0);
    SpectrumAnalyzer analyzer(60.0f, 2);
    analyzer.update(scope);
    for (auto _ : state) {
        analyzer.update(scope);
        benchmark::DoNotOptimize(analyzer.levels().data());
    }
}
BENCHMARK(BM_SpectrumUpdate48kStereoPadding2)->Unit(benchmark::kMicrosecond);

void BM_TwoBareFfts16384(benchmark::State& state) {
    RealFft fft(16384);
    for (int i = 0; i < 16384; ++i) fft.input()[static_cast<std::size_t>(i)] = i < 8192 ? std::sin(i * 0.0575f) : 0.0f;
    for (auto _ : state) {
        fft.execute();
        fft.execute();
        benchmark::DoNotOptimize(fft.output().data());
    }
}
BENCHMARK(BM_TwoBareFfts16384)->Unit(benchmark::kMicrosecond);

}  // namespace
