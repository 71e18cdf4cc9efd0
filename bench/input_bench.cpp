#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "input/decimal.h"
#include "input/sample_file.h"

namespace {

// Tokens as recorders write them: fixed and exponent notation, both signs.
const char* const typical_tokens[] = {"1.234567e-03", "-2.345678e-09", "0.000125",   "12345.678",
                                      "-0.5",         "4.000000e+00",  "9.87654321", "-1.5e-12"};

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

// A temporary sample file of the given number of lines (about 40 bytes each), made once per size.
std::FILE* sample_file(std::int64_t lines) {
    static std::map<std::int64_t, std::unique_ptr<std::FILE, FileCloser>> files;
    auto& file = files[lines];
    if (!file) {
        file.reset(std::tmpfile());
        std::mt19937 rng(42);
        std::normal_distribution<double> noise(0.0, 1.0);
        char line[128];
        for (std::int64_t i = 0; i < lines; ++i) {
            const int n = std::snprintf(line, sizeof line, "%.4f\t%.6e\t%.6e\n", i * 0.0625,
                                        1e-3 * noise(rng), 1e-9 * noise(rng));
            std::fwrite(line, 1, static_cast<std::size_t>(n), file.get());
        }
    }
    std::rewind(file.get());
    return file.get();
}

void BM_ConvertNumber(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* token : typical_tokens)
            benchmark::DoNotOptimize(convert_number(token, token + std::strlen(token)));
    }
    state.SetItemsProcessed(state.iterations() * std::size(typical_tokens));
}
BENCHMARK(BM_ConvertNumber);

void BM_Strtod(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* token : typical_tokens)
            benchmark::DoNotOptimize(std::strtod(token, nullptr));
    }
    state.SetItemsProcessed(state.iterations() * std::size(typical_tokens));
}
BENCHMARK(BM_Strtod);

void BM_ProbeLines(benchmark::State& state) {
    std::FILE* stream = sample_file(state.range(0));
    for (auto _ : state) {
        std::rewind(stream);
        benchmark::DoNotOptimize(DetecteESA400(stream));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ProbeLines)
    ->RangeMultiplier(10)
    ->Range(100000, 1000000)
    ->Unit(benchmark::kMillisecond);

void BM_LoadSamples(benchmark::State& state) {
    const std::int32_t lines = static_cast<std::int32_t>(state.range(0));
    std::FILE* stream = sample_file(lines);
    std::vector<float> voltage(lines), current(lines);
    for (auto _ : state) {
        std::rewind(stream);
        benchmark::DoNotOptimize(load_samples(stream, lines, voltage.data(), current.data()));
    }
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_LoadSamples)
    ->RangeMultiplier(10)
    ->Range(100000, 1000000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
