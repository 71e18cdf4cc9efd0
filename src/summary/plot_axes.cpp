#include "summary/plot_axes.h"

#include <cmath>
#include <utility>

#include "summary/text_format.h"

namespace psd {

namespace {

// The mantissas labelled in each decade, from the sparsest set.
const std::vector<std::vector<double>> mantissa_sets = {
    {1}, {1, 3}, {1, 2, 5}, {1, 1.5, 2, 3, 5, 7}, {1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 7, 8, 9}};

// The values m 10^e of the mantissas (every stride-th decade) within [low, high].
std::vector<double> tick_values(double low, double high, const std::vector<double>& mantissas,
                                int stride) {
    std::vector<double> values;
    const int first = static_cast<int>(std::floor(std::log10(low))) - 1;
    const int last = static_cast<int>(std::ceil(std::log10(high))) + 1;
    for (int e = first; e <= last; ++e) {
        if (((e % stride) + stride) % stride != 0) continue;
        for (double m : mantissas) {
            // Formed from the decimal text, so that 2e-12 is the double that "2e-12" reads as.
            const double value = std::stod(format("%ge%d", m, e));
            if (value >= low && value <= high) values.push_back(value);
        }
    }
    return values;
}

std::string label_of(double value, bool plain) {
    if (plain) return format("%g", value);
    const int e = static_cast<int>(std::floor(std::log10(value) + 1e-9));
    const double m = value / std::pow(10.0, e);
    const std::string power = format("10^{%d}", e);
    return std::fabs(m - 1) < 1e-9 ? power : format("%g·", m) + power;
}

}  // namespace

LogAxis log_axis(double lo, double hi, double margin, double headroom, int max_labels) {
    LogAxis axis;
    const double widen = std::pow(10.0, margin);
    axis.low = lo / widen;
    axis.high = hi == lo ? hi * 10 : hi * widen;
    // The values take the lower 1 - headroom of the axis's decades.
    axis.high *= std::pow(axis.high / axis.low, headroom / (1 - headroom));
    // The densest set that keeps within max_labels; the decades alone may be too many, and then
    // every second, third, fifth or tenth decade.
    axis.labelled = tick_values(axis.low, axis.high, mantissa_sets[0], 1);
    for (std::size_t set = 1; set < mantissa_sets.size(); ++set) {
        std::vector<double> denser = tick_values(axis.low, axis.high, mantissa_sets[set], 1);
        if (static_cast<int>(denser.size()) > max_labels) break;
        axis.labelled = std::move(denser);
    }
    for (int stride : {2, 3, 5, 10, 20, 50}) {
        if (static_cast<int>(axis.labelled.size()) <= max_labels) break;
        axis.labelled = tick_values(axis.low, axis.high, mantissa_sets[0], stride);
    }
    bool plain = true;
    for (double v : axis.labelled)
        plain = plain && v >= 0.01 && v <= 1000;
    std::string tics, marks;
    for (double v : axis.labelled) {
        tics += (tics.empty() ? "" : ", ") + format("\"%s\" %.17g", label_of(v, plain).c_str(), v);
        marks += (marks.empty() ? "" : ", ") + format("\"\" %.17g", v);
    }
    // Unlabelled minor tics at every integer mantissa, where they are not too dense to see.
    const bool minor = std::log10(axis.high / axis.low) <= 8;
    for (double v : minor ? tick_values(axis.low, axis.high, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 1)
                          : tick_values(axis.low, axis.high, {1}, 1)) {
        const std::string minor_tic = format("\"\" %.17g 1", v);
        tics += (tics.empty() ? "" : ", ") + minor_tic;
        marks += (marks.empty() ? "" : ", ") + minor_tic;
    }
    axis.tics = "(" + tics + ")";
    axis.marks = "(" + marks + ")";
    return axis;
}

}  // namespace psd
