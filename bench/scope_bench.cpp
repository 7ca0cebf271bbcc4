// Scope buffer write throughput: the capture queue's share of the scope.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "analysis/scope_buffer.h"

namespace {

void BM_ScopeBufferWrite(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    crestline::ScopeBuffer scope;
    scope.configure(48000.0);
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    for (int i = 0; i < frames; ++i) {
        left[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(i * 0.0575));
        right[static_cast<std::size_t>(i)] = static_cast<float>(std::cos(i * 0.0131));
    }
    for (auto _ : state) {
        scope.write(left.data(), right.data(), frames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * frames,
                                                    benchmark::Counter::kIsRate);
}
// 10 ms at 48 kHz (the capture's block) and a larger block.
BENCHMARK(BM_ScopeBufferWrite)->Arg(480)->Arg(4096);

}  // namespace
