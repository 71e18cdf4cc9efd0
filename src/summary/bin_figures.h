// The figures of every bin of a report, for the plot and the spectrum table: the confidence
// interval of each density by the bin's own degrees of freedom, that of Zn by the model its
// neighbours' coherence calls for (summary/zn_interval.h), and, from the samples' cross-spectrum,
// the bin's coherence and the phase of Zn.
//
// A bin's own coherence over M sections says little when M is small (it is 1 for M = 1), so the
// model of a bin's Zn interval is chosen by the coherence of its neighbourhood: the bins around
// it, enough of them for at least 16 section-bins, their spectra summed before the coherence is
// formed (a frequency-smoothed estimate, Bendat & Piersol, Random Data, ch. 9).
#pragma once

#include <cstddef>
#include <vector>

#include "format/report_file.h"
#include "spectrum/cross_spectrum.h"
#include "summary/bin_covariance.h"
#include "summary/zn_interval.h"

namespace psd {

// The figures of one bin. A figure that is not a finite number is not available.
struct BinFigures {
    BinKind kind = BinKind::regular;
    double averages = 0;  // complex averages: M, or M/2 for the Nyquist bin
    // The factors of the bin's own chi-squared law (2 x averages degrees of freedom); NaN for a
    // biased bin, whose expectation is not the density.
    double density_low = 0, density_high = 0;
    // Zn's interval (ohm) by the model its neighbours' coherence calls for; NaN for a biased bin.
    ZnInterval zn;
    // The bin's own coherence |S_vi|^2 / (S_vv S_ii) over the M sections, with its interval by
    // Fisher's z (NaN with fewer than 2 averages); the phase of Zn = S_vi / S_ii in degrees,
    // positive where the voltage leads the current (its half-interval is zn's).
    double coherence = 0, coherence_low = 0, coherence_high = 0;
    double phase_deg = 0;
};

// Sums of a cross-spectrum over some bins.
struct CrossSums {
    double vv = 0, ii = 0, re = 0, im = 0;
    // Adds bin k's sums times sign (+1 to add, -1 to take away).
    void add(const CrossSpectrum& cross, std::size_t k, double sign);
    // |S_vi|^2 / (S_vv S_ii) of the sums, and the phase of S_vi / S_ii in degrees.
    double coherence() const;
    double phase_deg() const;
};

// The interval at level of estimate = sqrt(mean P_v / mean P_i) over bins (bin numbers, sorted)
// of M sections: the F law of uncorrelated V and I without cross (no samples), else the model the
// coherence of the bins' summed cross-spectrum calls for; *phase_deg (when not null) the phase
// of that sum's Zn, NaN without cross. REQUIRES: bins not empty, of cov's N.
ZnInterval band_zn_interval(double estimate, const std::vector<std::size_t>& bins,
                            const BinCovariance& cov, std::int64_t sections,
                            const CrossSpectrum* cross, double level, double* phase_deg);

// The figures of bins 1 .. N/2 of report at level, with the samples' cross-spectrum when cross is
// not null. REQUIRES: cov and cross of the report's N; level in (0, 1).
std::vector<BinFigures> bin_figures(const ReportData& report, const BinCovariance& cov,
                                    const CrossSpectrum* cross, double level);

}  // namespace psd
