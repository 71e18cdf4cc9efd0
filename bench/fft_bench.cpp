#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "fft/fft.h"
#include "fft/fft_pair.h"

namespace {

using namespace psd;

std::vector<double> noise(std::size_t count) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(count);
    for (double& x : v)
        x = dist(rng);
    return v;
}

// Time per n log2(n), the unit in which an n log n transform should look flat across sizes; a
// rise at the large sizes shows the array leaving the caches. The library prints the inverted
// rate as a time, in nanoseconds here.
void report_per_nlogn(benchmark::State& state, std::uint32_t n) {
    const double nlogn = n * std::log2(static_cast<double>(n));
    state.counters["per_nlogn"] = benchmark::Counter(
        nlogn, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Each iteration restores the input before transforming it: repeated unscaled transforms would
// grow the values by n per call until they overflow. The copy is O(n) against the O(n log n)
// transform and is counted in the time, as the estimator also fills its buffer every section.
// transform(v, i, n) works on the two arrays of n doubles each.
template <typename Transform>
void transform_both(benchmark::State& state, std::uint32_t n, Transform transform) {
    const std::vector<double> input = noise(2 * std::size_t{n});
    std::vector<double> v(n), i(n);
    for (auto _ : state) {
        std::copy(input.begin(), input.begin() + n, v.begin());
        std::copy(input.begin() + n, input.end(), i.begin());
        transform(v.data(), i.data(), n);
        benchmark::DoNotOptimize(v.data());
        benchmark::DoNotOptimize(i.data());
        benchmark::ClobberMemory();
    }
}

// dfour1 on n complex points: the two arrays of n doubles hold them, the second left alone.
void BM_dfour1(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    transform_both(state, 2 * n, [n](double* v, double*, std::uint32_t) { dfour1(v, n, 1); });
    report_per_nlogn(state, n);
}
BENCHMARK(BM_dfour1)->RangeMultiplier(2)->Range(1 << 10, 1 << 20);

void BM_drealft(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    transform_both(state, n, [](double* v, double*, std::uint32_t m) { drealft(v, m, 1); });
    report_per_nlogn(state, n);
}
BENCHMARK(BM_drealft)->RangeMultiplier(2)->Range(1 << 10, 1 << 20);

// The voltage and current sections of one analysis step: the lock-step transform against the two
// plain calls it replaces. The time is per pair.
void BM_drealft_two(benchmark::State& state) {
    transform_both(state, static_cast<std::uint32_t>(state.range(0)),
                   [](double* v, double* i, std::uint32_t n) {
                       drealft(v, n, 1);
                       drealft(i, n, 1);
                   });
}
BENCHMARK(BM_drealft_two)->RangeMultiplier(4)->Range(64, 1 << 16);

void BM_drealft_pair(benchmark::State& state) {
    transform_both(state, static_cast<std::uint32_t>(state.range(0)),
                   [](double* v, double* i, std::uint32_t n) { drealft_pair(v, i, n); });
}
BENCHMARK(BM_drealft_pair)->RangeMultiplier(4)->Range(64, 1 << 16);

}  // namespace
