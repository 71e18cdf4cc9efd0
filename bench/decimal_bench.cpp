// Number conversion per form that recorders write: nanoseconds per number ("per_number") for the
// fast path over padded text, the whole-token check (bounded and padded), the longest-prefix
// conversion and strtod.
//
//   build/psd_bench --benchmark_filter='Decimal' --benchmark_min_time=0.2
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "format/decimal.h"
#include "format/text_scan.h"

namespace {

using namespace psd;

struct Form {
    const char* name;
    const char* format;  // printf format of one value
    double scale;        // typical magnitude
};

// The forms, by the Arg index of each benchmark.
const Form forms[] = {
    {"e6", "%.6e", 1e-3},        // the typical export: 1.234000e-01 -3.456789e-04
    {"e6_tiny", "%.6e", 1e-30},  // currents far beyond the exact powers of ten
    {"g17", "%.17g", 1e-4},      // every digit of a double: often beyond 2^53
    {"e9", "%.9e", 1e-6},        // ten digits
    {"f4", "%.4f", 1e3},         // fixed-point time stamps
    {"plus_e6", "%+.6e", 1e-3},  // a leading sign on every value
    {"integer", "%.0f", 1e5},    // whole counts
    {"g15", "%.15g", 1e-4},      // fifteen digits, within 2^53
    {"e20", "%.20e", 1e-4},      // beyond 19 digits
};

constexpr int token_count = 1024;

// token_count tokens of one form, blank-separated, padded as convert_short_decimal requires.
struct Tokens {
    std::string text;
    std::vector<std::size_t> starts, ends;
};

const Tokens& tokens_of(int form) {
    static std::vector<Tokens> made(std::size(forms));
    Tokens& t = made[static_cast<std::size_t>(form)];
    if (!t.starts.empty()) return t;
    std::mt19937_64 rng(7 + static_cast<unsigned>(form));
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int i = 0; i < token_count; ++i) {
        const double value =
            forms[form].scale * noise(rng) * std::exp2(static_cast<int>(rng() % 9) - 4);
        char buffer[64];
        const int n = std::snprintf(buffer, sizeof buffer, forms[form].format, value);
        t.starts.push_back(t.text.size());
        t.text.append(buffer, static_cast<std::size_t>(n));
        t.ends.push_back(t.text.size());
        t.text += ' ';
    }
    t.text.append(text_padding, ' ');
    return t;
}

void per_number(benchmark::State& state) {
    state.SetLabel(forms[state.range(0)].name);
    state.counters["per_number"] = benchmark::Counter(
        token_count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Converts every token of the state's form with convert(first, last) and reports the time per
// number.
template <typename Convert>
void convert_all(benchmark::State& state, Convert convert) {
    const Tokens& t = tokens_of(static_cast<int>(state.range(0)));
    const char* text = t.text.data();
    for (auto _ : state) {
        double sum = 0.0;
        for (int i = 0; i < token_count; ++i)
            sum += convert(text + t.starts[i], text + t.ends[i]);
        benchmark::DoNotOptimize(sum);
    }
    per_number(state);
}

void BM_DecimalShort(benchmark::State& state) {
    convert_all(state, [](const char* first, const char* last) {
        const ShortDecimal d = convert_short_decimal(first);
        // Unsettled numbers take the caller's way round, as the loader does.
        return d.end != nullptr ? d.value : convert_number(first, last);
    });
}

void BM_DecimalToken(benchmark::State& state) {
    convert_all(state, [](const char* first, const char* last) {
        double value = 0.0;
        return convert_token(first, last, &value) ? value : 0.0;
    });
}

void BM_DecimalPaddedToken(benchmark::State& state) {
    convert_all(state, [](const char* first, const char* last) {
        double value = 0.0;
        return convert_padded_token(first, last, &value) ? value : 0.0;
    });
}

void BM_DecimalNumber(benchmark::State& state) {
    convert_all(state,
                [](const char* first, const char* last) { return convert_number(first, last); });
}

void BM_DecimalStrtod(benchmark::State& state) {
    convert_all(state, [](const char* first, const char*) { return std::strtod(first, nullptr); });
}

BENCHMARK(BM_DecimalShort)->DenseRange(0, std::size(forms) - 1);
BENCHMARK(BM_DecimalToken)->DenseRange(0, std::size(forms) - 1);
BENCHMARK(BM_DecimalPaddedToken)->DenseRange(0, std::size(forms) - 1);
BENCHMARK(BM_DecimalNumber)->DenseRange(0, std::size(forms) - 1);
BENCHMARK(BM_DecimalStrtod)->DenseRange(0, std::size(forms) - 1);

}  // namespace
