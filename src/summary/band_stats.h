// What an analyst reads off a spectrum over a band of bins: the low-frequency limit of the noise
// impedance (Rsn0, the mean of Zn over the band) and roll-off slopes from a least-squares line
// through the log-log spectrum. Bins whose value is zero, negative, infinite or not a number
// (a report prints Zn = inf where PSD_i is 0) cannot be put on a log axis and are left out.
#pragma once

#include <cstddef>

namespace psd {

// Bins [first, last) as indices into a report's columns (bin k at index k - 1).
struct BinRange {
    std::size_t first = 0;
    std::size_t last = 0;
};

// The bins of frequency[0..count) lying in [f_low, f_high] Hz; empty (first == last) when none.
// REQUIRES: frequency increasing.
BinRange bins_in_band(const double* frequency, std::size_t count, double f_low, double f_high);

// Mean of the finite, positive values[first..last); *used says how many entered it. Returns NaN
// when none did; finite otherwise, even where the sum of the values would not be.
// REQUIRES: range within values; used not null.
double mean_of_usable(const double* values, BinRange range, std::size_t* used);

struct SlopeFit {
    std::size_t points = 0;  // usable bins in the band
    double slope = 0;        // dB per decade; NaN with fewer than 2 points or when no line can be
                       // fitted (their frequencies too close together to tell their logarithms)
    double std_error = 0;  // the fit's standard error of the slope; NaN with fewer than 3 points
                           // or without a slope
};

// Least-squares line of y = db_per_log10 * log10(value) against log10(frequency) over the usable
// bins of range: db_per_log10 is 10 for a power density and 20 for an amplitude such as Zn.
// REQUIRES: range within both arrays.
SlopeFit fit_db_per_decade(const double* frequency, const double* values, BinRange range,
                           double db_per_log10);

}  // namespace psd
