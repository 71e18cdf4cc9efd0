#include "summary/band_stats.h"

#include <cmath>
#include <limits>
#include <vector>

namespace psd {

namespace {

bool is_usable(double value) {
    return value > 0 && std::isfinite(value);
}

// The sum of the usable values[first..last), each times scale; *used says how many.
double scaled_sum_of_usable(const double* values, BinRange range, double scale, std::size_t* used) {
    double sum = 0;
    *used = 0;
    for (std::size_t k = range.first; k < range.last; ++k) {
        if (!is_usable(values[k])) continue;
        sum += values[k] * scale;
        ++*used;
    }
    return sum;
}

}  // namespace

BinRange bins_in_band(const double* frequency, std::size_t count, double f_low, double f_high) {
    BinRange range;
    while (range.first < count && frequency[range.first] < f_low)
        ++range.first;
    range.last = range.first;
    while (range.last < count && frequency[range.last] <= f_high)
        ++range.last;
    return range;
}

double mean_of_usable(const double* values, BinRange range, std::size_t* used) {
    const double sum = scaled_sum_of_usable(values, range, 1, used);
    if (*used == 0) return std::numeric_limits<double>::quiet_NaN();
    const double count = static_cast<double>(*used);
    if (std::isfinite(sum)) return sum / count;
    // Values near the largest double have a sum past it but a mean within it.
    return scaled_sum_of_usable(values, range, 1 / count, used);
}

SlopeFit fit_db_per_decade(const double* frequency, const double* values, BinRange range,
                           double db_per_log10) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> x, y;
    for (std::size_t k = range.first; k < range.last; ++k) {
        if (!is_usable(values[k]) || !is_usable(frequency[k])) continue;
        x.push_back(std::log10(frequency[k]));
        y.push_back(db_per_log10 * std::log10(values[k]));
    }
    SlopeFit fit;
    fit.points = x.size();
    fit.slope = fit.std_error = nan;
    if (fit.points < 2) return fit;
    // Centred sums: log frequencies of one report are close to each other, so the textbook
    // one-pass formula would lose most of its digits to cancellation.
    const double n = static_cast<double>(fit.points);
    double mean_x = 0, mean_y = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        mean_x += x[i];
        mean_y += y[i];
    }
    mean_x /= n;
    mean_y /= n;
    double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxx += (x[i] - mean_x) * (x[i] - mean_x);
        sxy += (x[i] - mean_x) * (y[i] - mean_y);
    }
    // Frequencies a few units in the last place apart have one logarithm: no line through them.
    fit.slope = sxx > 0 && std::isfinite(sxy / sxx) ? sxy / sxx : nan;
    if (fit.points < 3 || std::isnan(fit.slope)) return fit;
    double residuals = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double r = y[i] - mean_y - fit.slope * (x[i] - mean_x);
        residuals += r * r;
    }
    fit.std_error = std::sqrt(residuals / (n - 2) / sxx);
    if (!std::isfinite(fit.std_error)) fit.std_error = nan;
    return fit;
}

}  // namespace psd
