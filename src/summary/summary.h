// One report's summary: its parameters, Rsn0 with its interval, the roll-off slopes, the
// confidence factors of a bin and, when the sample file can be read, the coherence of voltage and
// current, Rn and the checks of the report against it; on request the figures of every bin. This
// is the part of psd-summary that decides which bins and which file each figure comes from.
//
// Bins the window or the sampling sets apart (summary/bin_covariance.h: bin 1 with the Hann
// window, lowered by each section's mean removal; the Nyquist bin, real-valued and so worth half
// the degrees of freedom) enter no band figure unless asked for.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "format/report_file.h"
#include "summary/band_stats.h"
#include "summary/bin_figures.h"
#include "summary/electrode.h"
#include "summary/quantiles.h"
#include "summary/sample_stats.h"
#include "summary/zn_interval.h"

namespace psd {

struct SummaryOptions {
    // Rsn0 band in Hz; by default bins 2 to 6 (bin 1 is the most biased by the mean removal and
    // the window's leakage).
    bool has_band = false;
    double band_low = 0, band_high = 0;
    // Slope band in Hz; by default from the top of the Rsn0 band to 0.8 of the Nyquist frequency.
    bool has_slope_band = false;
    double slope_low = 0, slope_high = 0;
    double level = 0.95;
    bool use_samples = true;
    // Whether the slopes are wanted (the plot draws none): without them the slope band is not
    // checked either.
    bool slopes = true;
    // Whether the special bins enter Rsn0 and the slopes too.
    bool keep_special_bins = false;
    // Whether the figures of every bin are wanted (the plot, --spectrum).
    bool per_bin = false;
    std::string samples;  // the sample file to use; empty: the one the report names
    // The trend each section loses. Other than the mean (the report's own figures), every figure
    // comes from the samples' spectrum recomputed with it, which needs the sample file.
    Detrend detrend = Detrend::mean;
    double area = 0;                // cm^2 of one electrode; 0: not given
    double stern_geary = 0;         // B in V; 0: not given
    std::size_t trace_columns = 0;  // the record's trace for the plot; 0: none
    bool smooth = false;            // the top decade smoothed for the plot
    // Called with each section's figures as the sample file is read; may be empty.
    std::function<void(const SectionFigures&)> on_section;
};

// The drift found: the share of a channel's variance, or of its power in the Rsn0 band, that the
// sections' straight lines hold, from which the warning is given. Removing a tenth moves Rn or
// Rsn0 by about 5 % (docs/summary.md has the measurements).
constexpr double drift_warning_fraction = 0.10;

struct Summary {
    std::string report_path;
    ReportData report;
    double deltat = 0;  // from the report's Nyquist frequency

    // A figure that is not a finite number below is not available: the printed forms say why.
    std::vector<std::size_t> special_bins;  // bin numbers, increasing
    bool special_kept = false;              // they enter Rsn0 and the slopes too

    Detrend detrend = Detrend::mean;  // the trend removed; other than the mean, the columns of
                                      // report below are the samples' recomputed spectrum

    BinRange rsn0_bins;                       // empty only by default, in a report of one bin
    std::size_t rsn0_used = 0;                // bins whose PSD_v and PSD_i entered Rsn0
    std::vector<std::size_t> rsn0_used_bins;  // their bin numbers
    std::size_t rsn0_left_out = 0;            // special bins of the band left out
    double rsn0_low = 0, rsn0_high = 0;       // the first and last bin's frequencies, Hz
    double rsn0 = 0;              // ohm, sqrt(mean PSD_v / mean PSD_i); NaN when no bin was usable
    ZnInterval rsn0_interval;     // at the level asked for
    double rsn0_phase_deg = 0;    // of the band's summed cross-spectrum; NaN without samples
    double psi_v = 0, psi_i = 0;  // the mean PSD_v and PSD_i over the bins that entered Rsn0

    // With the slopes, at least 2 bins.
    BinRange slope_bins;
    std::size_t slope_left_out = 0;        // special bins of the band left out
    double slope_low = 0, slope_high = 0;  // the first and last bin's frequencies, Hz
    SlopeFit slope_v, slope_i, slope_zn;

    ConfidenceFactors factors;  // all four finite, or all four NaN

    // Sample file checks, when has_samples.
    bool has_samples = false;
    std::string samples_path;
    SampleStats samples;
    double rn = 0;  // ohm
    double rsn0_over_rn = 0;
    // Bin 0's densities, from the samples with the report's scale, V^2/Hz and A^2/Hz.
    double zero_bin_v = 0, zero_bin_i = 0;
    // PSD_v and PSD_i over frequency with bin 0 and the Nyquist bin counted half, V^2 and A^2.
    double integrated_v = 0, integrated_i = 0;
    // The window-weighted variance: the mean over sections of sum w^2 (x - mean)^2 / sum w^2,
    // V^2 and A^2 (the plain variance without a window), and the power the report's window
    // correction (8/3 for Hann) makes of it, mean of sum w^2 (x - mean)^2 x correction / N.
    double windowed_variance_v = 0, windowed_variance_i = 0;
    double expected_power_v = 0, expected_power_i = 0;
    double parseval_v = 0;  // integrated_v / expected_power_v: 1 for the report of these samples
    double parseval_i = 0;
    double interval_error = 0;      // mean interval / report's interval - 1
    bool interval_flagged = false;  // off by more than 0.1 %, enough to matter in a fit
    bool samples_mismatch = false;  // the file's first interval does not give the report's bins
    // The time-domain figures over the used samples, each section's trend removed.
    double sigma_v = 0, sigma_i = 0, mean_i = 0;
    double skewness_v = 0, skewness_i = 0, kurtosis_v = 0, kurtosis_i = 0;
    double localisation_index = 0;  // sigma_I / sqrt(sigma_I^2 + mean_I^2)
    double drift_fraction_v = 0, drift_fraction_i = 0;
    // The share of the Rsn0 band's power the straight lines hold (their windowed transform's
    // power in the band's bins over the band's), with only the means removed; NaN otherwise.
    double drift_band_fraction_v = 0, drift_band_fraction_i = 0;
    bool drift_flagged = false;  // any share at least drift_warning_fraction, none removed

    ElectrodeFigures electrode;  // NaN where the area or B is not given
    double area = 0, stern_geary = 0;

    std::vector<BinFigures> bins;  // with SummaryOptions::per_bin, one per bin of the report
    // With SummaryOptions::smooth, the top decade smoothed (summary/band_stats.h), NaN elsewhere.
    std::vector<double> smooth_v, smooth_i;
};

// bad_report: the report cannot be read, or holds a density that is not a finite number.
// bad_band: a band asked for (or the default slope band) holds too few of its bins.
// bad_samples: the report's figures are there, the sample checks are not. With a trend other than
// the mean, a sample file that cannot be used leaves no figure: bad_report.
enum class SummaryStatus { ok, bad_report, bad_band, bad_samples };

// Summarises the report at report_path. Only ok and bad_samples give a summary to print; on
// failure *why names the file and the problem.
// REQUIRES: options.level in (0, 1); summary and why not null.
SummaryStatus summarise(const std::string& report_path, const SummaryOptions& options,
                        Summary* summary, std::string* why);

// Summarises a report held in memory, text as a report file holds it, as summarise summarises the
// file report_path: that name is the report's in the messages and the CSV, and the sample file is
// looked for in its folder. REQUIRES: as summarise.
SummaryStatus summarise_text(const std::string& report_path, const std::string& text,
                             const SummaryOptions& options, Summary* summary, std::string* why);

}  // namespace psd
