// What an analyst reads off a spectrum over a band of bins: the low-frequency limit of the noise
// impedance (Rsn0, from the band's mean densities) and roll-off slopes from a least-squares line
// through the log-log spectrum. Bins whose value is zero, negative, infinite or not a number
// (a report prints Zn = inf where PSD_i is 0) cannot be put on a log axis and are left out.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "summary/bin_covariance.h"

namespace psd {

// Whether a bin's value can be put on a log axis and enter a band figure: finite and positive.
inline bool is_usable(double value) {
    return value > 0 && std::isfinite(value);
}

// Bins [first, last) as indices into a report's columns (bin k at index k - 1).
struct BinRange {
    std::size_t first = 0;
    std::size_t last = 0;
};

// The bins of frequency[0..count) lying in [f_low, f_high] Hz; empty (first == last) when none.
// REQUIRES: frequency increasing.
BinRange bins_in_band(const double* frequency, std::size_t count, double f_low, double f_high);

// sqrt(mean PSD_v / mean PSD_i) over the indices whose two densities are both finite and
// positive: unlike the mean of Zn, a ratio of two F-distributed means has the true value as its
// median, so it is not biased upward when few sections are averaged (the mean of sqrt F(2M, 2M)
// is 1.5 for M = 1).
struct BandRatio {
    std::vector<std::size_t> used;  // the indices that entered it
    double ratio = 0;               // NaN when none did
    double mean_v = 0, mean_i = 0;  // the two means; NaN when no index entered them
};
BandRatio ratio_of_band_means(const double* psd_v, const double* psd_i,
                              const std::vector<std::size_t>& indices);

struct SlopeFit {
    std::size_t points = 0;  // usable bins in the band
    double slope = 0;        // dB per decade; NaN with fewer than 2 points or when no line can be
                       // fitted (their frequencies too close together to tell their logarithms)
    double std_error = 0;  // the slope's standard error; NaN with fewer than 3 points or without
                           // a slope
    // The line passes through the mean log10 frequency and the mean dB value of its points.
    double mean_log_f = 0, mean_db = 0;
};

// The bins' correlation a slope's standard error allows for: that of the window's neighbouring
// bins (cov, null for independent bins) in an average of sections.
struct BinCorrelation {
    const BinCovariance* cov = nullptr;
    std::int64_t sections = 1;
};

// Least-squares line of y = db_per_log10 * log10(value) against log10(frequency) over the usable
// bins among indices (sorted): db_per_log10 is 10 for a power density and 20 for an amplitude such
// as Zn. The standard error is a sandwich estimate: the line's weights applied to the residuals'
// correlation (that of the log-periodograms of correlated bins), its scale from the residuals
// with the degrees of freedom that correlation leaves. REQUIRES: indices within both arrays.
SlopeFit fit_db_per_decade(const double* frequency, const double* values,
                           const std::vector<std::size_t>& indices, double db_per_log10,
                           const BinCorrelation& correlation);

// The mean of the usable values over the bins within a twentieth of a decade either side of each
// bin (a window of constant relative width, 0.1 decade wide), for the bins of the top decade
// (frequency at least a tenth of the last bin's); NaN elsewhere and where no bin of the window is
// usable. Bins flagged in left_out neither enter a mean nor get one.
// REQUIRES: frequency increasing; left_out of count values.
std::vector<double> smoothed_top_decade(const double* frequency, const double* values,
                                        std::size_t count, const std::vector<bool>& left_out);

// The correlation of ln P_k and ln P_l for averages of M periodograms whose correlation is rho:
// sum over j >= 1 of rho^j Gamma(M) Gamma(j) / (j Gamma(M + j)), over the variance psi'(M) of
// each (Kibble's bivariate gamma law). rho itself for large M; Li2(rho) / Li2(1) for M = 1.
// REQUIRES: 0 <= rho <= 1, sections >= 1.
double log_power_correlation(double rho, std::int64_t sections);

}  // namespace psd
