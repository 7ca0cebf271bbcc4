// Spectrum analyzer and spectrogram recorder, each next to the bare FFTs it
// runs, so the overhead around the transforms shows as a ratio.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "analysis/scope_buffer.h"
#include "analysis/spectrogram_recorder.h"
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

namespace {

// The recorder's tick at 48 kHz: the unpadded 8,192-point window, one FFT
// for a single channel (arg 1: left), two for stereo (arg 0), then 160 bands.
void BM_SpectrogramCaptureColumn(benchmark::State& state) {
    ScopeBuffer scope;
    fillScope(scope, 48000.0);
    SpectrogramRecorder recorder;
    recorder.setChannel(state.range(0) == 0 ? SpectrumChannel::stereo : SpectrumChannel::left);
    const float zero = 0.0f;
    for (auto _ : state) {
        scope.write(&zero, &zero, 1);  // new audio, or the tick would do nothing
        recorder.captureColumn(scope);
    }
}
BENCHMARK(BM_SpectrogramCaptureColumn)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_OneBareFft8192(benchmark::State& state) {
    RealFft fft(8192);
    for (int i = 0; i < 8192; ++i) fft.input()[static_cast<std::size_t>(i)] = std::sin(i * 0.0575f);
    for (auto _ : state) {
        fft.execute();
        benchmark::DoNotOptimize(fft.output().data());
    }
}
BENCHMARK(BM_OneBareFft8192)->Unit(benchmark::kMicrosecond);

// The display's request: 1,500 × 160 pixels of a full history. The spans are
// one column per pixel (1 min) and ten (the whole ten minutes).
void BM_SpectrogramRender1500x160(benchmark::State& state) {
    SpectrogramRecorder recorder;
    SpectrogramRecorder::Column column;
    for (int k = 0; k < SpectrogramRecorder::kCapacity; ++k) {
        for (std::size_t b = 0; b < column.size(); ++b) column[b] = static_cast<std::uint8_t>((k * 7 + b * 13) % 256);
        recorder.appendColumn(column);
    }
    std::vector<std::uint32_t> colours(256), pixels;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        colours[i] = 0xff000000u | static_cast<std::uint32_t>(i * 0x010101u);
    }
    const int span = static_cast<int>(state.range(0));
    for (auto _ : state) {
        recorder.render(span, 1500, 160, 3.0, colours, pixels);
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_SpectrogramRender1500x160)->Arg(1500)->Arg(15000)->Unit(benchmark::kMicrosecond);

}  // namespace
