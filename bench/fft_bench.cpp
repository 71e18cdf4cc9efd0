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
void BM_dfour1(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::vector<double> input = noise(2 * std::size_t{n});
    std::vector<double> data(input.size());
    for (auto _ : state) {
        data = input;
        dfour1(data.data(), n, 1);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    report_per_nlogn(state, n);
}
BENCHMARK(BM_dfour1)->RangeMultiplier(2)->Range(1 << 10, 1 << 20);

void BM_drealft(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::vector<double> input = noise(n);
    std::vector<double> data(input.size());
    for (auto _ : state) {
        data = input;
        drealft(data.data(), n, 1);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    report_per_nlogn(state, n);
}
BENCHMARK(BM_drealft)->RangeMultiplier(2)->Range(1 << 10, 1 << 20);

// The voltage and current sections of one analysis step: the lock-step transform against the two
// plain calls it replaces, inputs restored each iteration as above. The time is per pair.
void BM_drealft_two(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::vector<double> input = noise(2 * std::size_t{n});
    std::vector<double> v(n), i(n);
    for (auto _ : state) {
        std::copy(input.begin(), input.begin() + n, v.begin());
        std::copy(input.begin() + n, input.end(), i.begin());
        drealft(v.data(), n, 1);
        drealft(i.data(), n, 1);
        benchmark::DoNotOptimize(v.data());
        benchmark::DoNotOptimize(i.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_drealft_two)->RangeMultiplier(4)->Range(64, 1 << 16);

void BM_drealft_pair(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::vector<double> input = noise(2 * std::size_t{n});
    std::vector<double> v(n), i(n);
    for (auto _ : state) {
        std::copy(input.begin(), input.begin() + n, v.begin());
        std::copy(input.begin() + n, input.end(), i.begin());
        drealft_pair(v.data(), i.data(), n);
        benchmark::DoNotOptimize(v.data());
        benchmark::DoNotOptimize(i.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_drealft_pair)->RangeMultiplier(4)->Range(64, 1 << 16);

}  // namespace
