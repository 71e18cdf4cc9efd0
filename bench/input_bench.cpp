#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "format/decimal.h"
#include "format/sample_stream.h"
#include "pass_check/pass_outcome.h"
#include "platform/file.h"

namespace {

// Tokens as recorders write them: fixed and exponent notation, both signs.
const char* const typical_tokens[] = {"1.234567e-03", "-2.345678e-09", "0.000125",   "12345.678",
                                      "-0.5",         "4.000000e+00",  "9.87654321", "-1.5e-12"};

// A temporary sample file of the given number of lines (about 40 bytes each), made once per size.
std::FILE* sample_file(std::int64_t lines) {
    static std::map<std::int64_t, psd::File> files;
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
            benchmark::DoNotOptimize(psd::convert_number(token, token + std::strlen(token)));
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

// The one pass over a file of the state's size with sections of 1024 samples, converting used
// lines (0: the lines are only counted, as a run bound to fail a check that needs no count does).
void read_pass(benchmark::State& state, std::uint64_t used) {
    std::FILE* stream = sample_file(state.range(0));
    for (auto _ : state) {
        std::rewind(stream);
        psd::SampleStream pass;
        psd::start_samples(pass, stream, 1024);
        psd::set_used_lines(pass, used);
        double sum = 0;
        while (psd::next_section(pass) == psd::SampleStatus::section_ready)
            sum += pass.section_v[0];
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_CountLines(benchmark::State& state) {
    read_pass(state, 0);
}
BENCHMARK(BM_CountLines)
    ->RangeMultiplier(10)
    ->Range(100000, 1000000)
    ->Unit(benchmark::kMillisecond);

void BM_ReadSections(benchmark::State& state) {
    read_pass(state, UINT64_MAX);
}
BENCHMARK(BM_ReadSections)
    ->RangeMultiplier(10)
    ->Range(100000, 1000000)
    ->Unit(benchmark::kMillisecond);

// The whole pass over 1,000,000 lines with every section transformed and summed (N = 1024, the
// Hann window): the one-thread pass for 1 thread, else the pass shared among the state's threads,
// both as the tests run them. Wall-clock time, as the threads' CPU time is not the point.
void BM_AnalysePass(benchmark::State& state) {
    std::FILE* stream = sample_file(1000000);
    const auto threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        std::rewind(stream);
        const std::optional<psd::check::PassOutcome> outcome =
            threads > 1
                ? psd::check::shared_pass(stream, 1024, UINT64_MAX, psd::max_sample_lines,
                                          psd::stream_block_size, threads, {})
                : psd::check::one_thread_pass(stream, 1024, UINT64_MAX, psd::max_sample_lines,
                                              psd::stream_block_size);
        benchmark::DoNotOptimize(outcome->sections);
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_AnalysePass)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
