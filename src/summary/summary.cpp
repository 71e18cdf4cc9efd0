#include "summary/summary.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>
#include <vector>

#include "spectrum/estimator.h"
#include "summary/text_format.h"

namespace psd {

namespace {

// Bins 2 to 6, as indices of bin k at k - 1.
constexpr std::size_t default_rsn0_first_bin = 2;
constexpr std::size_t default_rsn0_last_bin = 6;
constexpr double slope_top_of_nyquist = 0.8;
// Above this the report's frequencies are off enough to matter in a fit or a corner frequency.
constexpr double interval_tolerance = 1e-3;
// The report prints 7 significant digits; a file whose first interval differs by more than a few
// units in that last digit cannot be the one the report was made from.
constexpr double nyquist_tolerance = 5e-6;

std::string in_quotes(const std::string& name) {
    return "'" + name + "'";
}

// The report with the range of its bins, from which to choose another band.
std::string report_and_range(const Summary& s) {
    const std::vector<double>& f = s.report.frequency;
    return in_quotes(s.report_path) + " (" + number(f.front()) + " to " + number(f.back()) + " Hz)";
}

// A band as the command line gives it, an open end left empty.
std::string band_argument(const char* option, double low, double high) {
    return format("%s %.9g:", option, low) + (std::isinf(high) ? "" : format("%.9g", high));
}

// The first density that is not a finite number, by column, bin and frequency; empty when none.
// psd's densities are finite, so no figure of a report holding one can be trusted. Zn is not
// checked: it is inf where PSD_i is 0 (a constant current) in a correct report.
std::string non_finite_density(const ReportData& r) {
    for (std::size_t k = 0; k < r.frequency.size(); ++k) {
        const std::pair<const char*, double> densities[] = {{"PSD_v", r.psd_v[k]},
                                                            {"PSD_i", r.psd_i[k]}};
        for (const auto& [name, value] : densities) {
            if (std::isfinite(value)) continue;
            return format("%s of bin %zu (%s Hz) is %s", name, k + 1,
                          number(r.frequency[k]).c_str(),
                          std::isnan(value) ? "not a number" : "infinite");
        }
    }
    return "";
}

Window window_of(const ReportHeader& h) {
    return h.hanning == 1 ? Window::hann : Window::none;
}

// The indices of range that band figures use: all of them, or all but the special bins (those
// left out counted in *left_out).
std::vector<std::size_t> band_indices(const Summary& s, BinRange range, bool keep_special,
                                      std::size_t* left_out) {
    std::vector<std::size_t> indices;
    *left_out = 0;
    for (std::size_t k = range.first; k < range.last; ++k) {
        const bool special =
            std::binary_search(s.special_bins.begin(), s.special_bins.end(), k + 1);
        if (special && !keep_special)
            ++*left_out;
        else
            indices.push_back(k);
    }
    return indices;
}

// Bin numbers of report indices.
std::vector<std::size_t> bin_numbers(const std::vector<std::size_t>& indices) {
    std::vector<std::size_t> bins(indices);
    for (std::size_t& k : bins)
        ++k;
    return bins;
}

// The Rsn0 band's bins and Rsn0; false with *why set when a band given holds no bin.
bool take_rsn0_band(const SummaryOptions& options, Summary* s, std::string* why) {
    const std::vector<double>& f = s->report.frequency;
    BinRange& bins = s->rsn0_bins;
    if (options.has_band) {
        bins = bins_in_band(f.data(), f.size(), options.band_low, options.band_high);
        if (bins.first == bins.last) {
            *why = band_argument("--band", options.band_low, options.band_high) +
                   " holds no bin of " + report_and_range(*s);
            return false;
        }
    } else {
        bins.first = std::min(default_rsn0_first_bin - 1, f.size());
        bins.last = std::min(default_rsn0_last_bin, f.size());
    }
    if (bins.first < bins.last) {
        s->rsn0_low = f[bins.first];
        s->rsn0_high = f[bins.last - 1];
    }
    const BandRatio ratio =
        ratio_of_band_means(s->report.psd_v.data(), s->report.psd_i.data(),
                            band_indices(*s, bins, options.keep_special_bins, &s->rsn0_left_out));
    s->rsn0 = ratio.ratio;
    s->psi_v = ratio.mean_v;
    s->psi_i = ratio.mean_i;
    s->rsn0_used = ratio.used.size();
    s->rsn0_used_bins = bin_numbers(ratio.used);
    return true;
}

// The slope band's bins and the slopes; false with *why set when the band holds fewer than 2
// bins, the least a line can be fitted through.
bool take_slope_band(const SummaryOptions& options, const BinCovariance& cov, Summary* s,
                     std::string* why) {
    const ReportData& r = s->report;
    const std::vector<double>& f = r.frequency;
    // By default from the top of the bins Rsn0 was taken over to 0.8 of the Nyquist frequency.
    const double low = options.has_slope_band                   ? options.slope_low
                       : s->rsn0_bins.first < s->rsn0_bins.last ? f[s->rsn0_bins.last - 1]
                                                                : f.front();
    const double high =
        options.has_slope_band ? options.slope_high : slope_top_of_nyquist * f.back();
    const BinRange bins = bins_in_band(f.data(), f.size(), low, high);
    if (bins.last - bins.first < 2) {
        // A band asked for that cannot hold a line is a mistake to point out; the default one of
        // a short report just leaves the slopes out.
        if (!options.has_slope_band) {
            const double nan = std::nan("");
            s->slope_low = s->slope_high = nan;
            for (SlopeFit* fit : {&s->slope_v, &s->slope_i, &s->slope_zn})
                *fit = SlopeFit{0, nan, nan};
            return true;
        }
        *why = band_argument("--slope-band", low, high) + " holds fewer than 2 bins of " +
               report_and_range(*s);
        return false;
    }
    s->slope_bins = bins;
    s->slope_low = f[bins.first];
    s->slope_high = f[bins.last - 1];
    const std::vector<std::size_t> indices =
        band_indices(*s, bins, options.keep_special_bins, &s->slope_left_out);
    const BinCorrelation correlation{&cov, r.header.nb_section};
    s->slope_v = fit_db_per_decade(f.data(), r.psd_v.data(), indices, 10, correlation);
    s->slope_i = fit_db_per_decade(f.data(), r.psd_i.data(), indices, 10, correlation);
    s->slope_zn = fit_db_per_decade(f.data(), r.zn.data(), indices, 20, correlation);
    return true;
}

// The figures of the report alone; *why says why when it cannot give them.
SummaryStatus summarise_report(const SummaryOptions& options, const BinCovariance& cov, Summary* s,
                               std::string* why) {
    s->deltat = report_deltat(s->report);
    const std::string damage = non_finite_density(s->report);
    if (!damage.empty()) {
        *why = in_quotes(s->report_path) + " cannot be summarised: " + damage;
        return SummaryStatus::bad_report;
    }
    for (std::size_t k = 1; k <= s->report.frequency.size(); ++k)
        if (cov.kind(k) != BinKind::regular) s->special_bins.push_back(k);
    s->special_kept = options.keep_special_bins;
    if (!take_rsn0_band(options, s, why) ||
        (options.slopes && !take_slope_band(options, cov, s, why)))
        return SummaryStatus::bad_band;
    // Both ends of an interval or neither: a level too close to 0 or 1 leaves one undefined.
    if (!confidence_factors(s->report.header.nb_section, options.level, &s->factors)) {
        const double nan = std::nan("");
        s->factors = {nan, nan, nan, nan};
    }
    return SummaryStatus::ok;
}

// The scale that makes the sections' summed periodograms the report's densities: 2 deltat / N,
// times 8/3 with the window, over M; psd's float, then the division in double.
double report_density_scale(const CrossSpectrum& cross, double first_interval) {
    return static_cast<double>(Estimator::density_scale(cross.window(), cross.n(),
                                                        static_cast<float>(first_interval))) /
           static_cast<double>(cross.sections());
}

// Parseval's check: the report's densities with bin 0 from the samples, integrated over
// frequency, against the power of the windowed sections the report's scale corresponds to.
void parseval_check(Summary* s) {
    const ReportData& r = s->report;
    const CrossSpectrum& cross = *s->samples.cross;
    const double m = static_cast<double>(cross.sections()), n = cross.n();
    // Bin 0 on the report's own scale.
    const double scale = report_density_scale(cross, s->samples.first_interval);
    s->zero_bin_v = cross.sum_vv()[0] * scale;
    s->zero_bin_i = cross.sum_ii()[0] * scale;
    // Bin k lies at k times the first bin's frequency, which is therefore the bins' width.
    const double bin_width = r.frequency.front();
    s->integrated_v = integrated_density(s->zero_bin_v, r.psd_v.data(), r.psd_v.size(), bin_width);
    s->integrated_i = integrated_density(s->zero_bin_i, r.psd_i.data(), r.psd_i.size(), bin_width);
    double weight_power = 0;  // sum of w^2: N without a window
    for (double w : cross.weights())
        weight_power += w * w;
    if (cross.weights().empty()) weight_power = n;
    const double correction = cross.window() == Window::hann ? 8.0 / 3.0 : 1.0;
    s->windowed_variance_v = cross.prepared_squares_v() / (m * weight_power);
    s->windowed_variance_i = cross.prepared_squares_i() / (m * weight_power);
    s->expected_power_v = correction * cross.prepared_squares_v() / (m * n);
    s->expected_power_i = correction * cross.prepared_squares_i() / (m * n);
    s->parseval_v = s->integrated_v / s->expected_power_v;
    s->parseval_i = s->integrated_i / s->expected_power_i;
}

// Rn and the checks of the report against its sample file's figures.
void compare_with_samples(Summary* s) {
    const ReportData& r = s->report;
    const SampleStats& samples = s->samples;
    s->rn = std::sqrt(samples.variance_v / samples.variance_i);
    // Rsn0 over an Rn that is not available (sigma_I = 0) would read as a ratio of 0.
    s->rsn0_over_rn = std::isfinite(s->rn) ? s->rsn0 / s->rn : std::nan("");
    parseval_check(s);
    s->interval_error = samples.mean_interval / samples.first_interval - 1;
    s->interval_flagged = !(std::fabs(s->interval_error) <= interval_tolerance);
    // The Nyquist frequency psd derives from this file's first interval, as a 32-bit float.
    const double nyquist = nyquist_frequency(static_cast<float>(samples.first_interval));
    s->samples_mismatch = !(std::fabs(nyquist / r.frequency.back() - 1) <= nyquist_tolerance);
}

// Reads the report's sample file, when it can be read.
SummaryStatus read_samples(const SummaryOptions& options, Summary* s, std::string* why) {
    if (!options.samples.empty()) {
        s->samples_path = options.samples;
    } else {
        // The report names its sample file as psd's configuration did: relative to the folder
        // psd ran in, which is the report's own folder in the usual layout.
        const std::filesystem::path folder = std::filesystem::path(s->report_path).parent_path();
        s->samples_path = (folder / s->report.header.data_file).string();
    }
    const ReportHeader& h = s->report.header;
    std::string reason;
    const SamplePass pass{options.detrend, options.trace_columns, options.on_section};
    const SampleStatsStatus status =
        read_sample_stats(s->samples_path.c_str(), in_quotes(s->samples_path), h.nb_section,
                          h.nbpoint_section, window_of(h), pass, &s->samples, &reason);
    if (status == SampleStatsStatus::missing) {
        *why = "the sample file " + in_quotes(s->samples_path) + " of " +
               in_quotes(s->report_path) + " " + reason +
               " (give it with --samples FILE, or skip its checks with --no-samples)";
        return SummaryStatus::bad_samples;
    }
    if (status != SampleStatsStatus::ok) {
        // psd's own message about the file, which names it; the report it belongs to first.
        if (!reason.empty() && reason.back() == '\n') reason.pop_back();
        *why = "the sample file of " + in_quotes(s->report_path) + ": " + reason;
        return SummaryStatus::bad_samples;
    }
    s->has_samples = true;
    return SummaryStatus::ok;
}

// The report's columns replaced by the samples' spectrum with the trend asked for, on the
// report's own scale (2 deltat / N, times 8/3 with the window, over M) but in double.
void recompute_spectrum(Summary* s) {
    ReportData& r = s->report;
    const CrossSpectrum& cross = *s->samples.cross;
    const double scale = report_density_scale(cross, s->samples.first_interval);
    for (std::size_t k = 1; k <= r.frequency.size(); ++k) {
        r.psd_v[k - 1] = cross.sum_vv()[k] * scale;
        r.psd_i[k - 1] = cross.sum_ii()[k] * scale;
        r.zn[k - 1] = std::sqrt(r.psd_v[k - 1] / r.psd_i[k - 1]);
    }
}

// The share of the Rsn0 band's power that the sections' straight lines hold: a line's windowed
// transform at bin k is its slope times sqrt(sum p1^2) times Q1(k), the transform of the window
// times the unit ramp, whose power |Q1(k)|^2 is what removing the line takes from a bin's
// covariance.
void take_band_drift(const BinCovariance& cov, Summary* s) {
    const double nan = std::nan("");
    s->drift_band_fraction_v = s->drift_band_fraction_i = nan;
    if (s->detrend != Detrend::mean || s->rsn0_used_bins.empty()) return;
    const CrossSpectrum& cross = *s->samples.cross;
    const BinCovariance lines(cross.weights(), cross.n(), Detrend::linear);
    double ramp = 0, power_v = 0, power_i = 0;
    for (std::size_t k : s->rsn0_used_bins) {
        ramp += cov.s(k, k).real() - lines.s(k, k).real();
        power_v += cross.sum_vv()[k];
        power_i += cross.sum_ii()[k];
    }
    s->drift_band_fraction_v = s->samples.record->line_squares_v() * ramp / power_v;
    s->drift_band_fraction_i = s->samples.record->line_squares_i() * ramp / power_i;
}

// The time-domain figures of the samples and whether their drift calls for a warning.
void take_time_domain(const BinCovariance& cov, Summary* s) {
    const RecordStats& record = *s->samples.record;
    s->sigma_v = std::sqrt(s->samples.variance_v);
    s->sigma_i = std::sqrt(s->samples.variance_i);
    s->mean_i = record.mean_i();
    s->skewness_v = record.moments_v().skewness();
    s->skewness_i = record.moments_i().skewness();
    s->kurtosis_v = record.moments_v().kurtosis();
    s->kurtosis_i = record.moments_i().kurtosis();
    s->localisation_index = localisation_index(s->sigma_i, s->mean_i);
    s->drift_fraction_v = record.drift_fraction_v();
    s->drift_fraction_i = record.drift_fraction_i();
    take_band_drift(cov, s);
    s->drift_flagged = false;
    for (double share : {s->drift_fraction_v, s->drift_fraction_i, s->drift_band_fraction_v,
                         s->drift_band_fraction_i})
        s->drift_flagged =
            s->drift_flagged || (s->detrend == Detrend::mean && share >= drift_warning_fraction);
}

// Rsn0's interval: from the report alone the F law of uncorrelated V and I; with the samples, the
// model the coherence over the bins that entered Rsn0 calls for.
void take_rsn0_interval(const SummaryOptions& options, const BinCovariance& cov, Summary* s) {
    const double nan = std::nan("");
    s->rsn0_phase_deg = nan;
    if (!std::isfinite(s->rsn0)) {
        s->rsn0_interval = ZnInterval{nan, nan, ZnModel::assumed_uncorrelated, nan, nan, nan};
        return;
    }
    s->rsn0_interval = band_zn_interval(
        s->rsn0, s->rsn0_used_bins, cov, s->report.header.nb_section,
        s->has_samples ? &*s->samples.cross : nullptr, options.level, &s->rsn0_phase_deg);
}

// The top decade of PSD_v and PSD_i smoothed, the special bins left out.
void take_smoothed(Summary* s) {
    const ReportData& r = s->report;
    std::vector<bool> left_out(r.frequency.size(), false);
    for (std::size_t k : s->special_bins)
        left_out[k - 1] = true;
    s->smooth_v =
        smoothed_top_decade(r.frequency.data(), r.psd_v.data(), r.frequency.size(), left_out);
    s->smooth_i =
        smoothed_top_decade(r.frequency.data(), r.psd_i.data(), r.frequency.size(), left_out);
}

// Whether the report was read; *why says why not.
bool report_read(ReportReadStatus status, const std::string& report_path, const std::string& reason,
                 std::string* why) {
    switch (status) {
        case ReportReadStatus::ok:
            return true;
        case ReportReadStatus::unreadable:
            *why = "cannot read " + in_quotes(report_path) + ": " + reason;
            break;
        case ReportReadStatus::not_a_report:
            *why = in_quotes(report_path) + " is not a psd report: " + reason;
            break;
        case ReportReadStatus::truncated:
            *why = in_quotes(report_path) + " is truncated: " + reason;
            break;
    }
    return false;
}

// The summary of the report read into summary->report.
SummaryStatus summarise_read(const SummaryOptions& options, Summary* summary, std::string* why) {
    const ReportHeader& h = summary->report.header;
    const std::uint32_t n = static_cast<std::uint32_t>(h.nbpoint_section);
    const BinCovariance cov(window_weights(window_of(h), n), n, options.detrend);
    summary->detrend = options.detrend;
    const bool recompute = options.detrend != Detrend::mean;
    // The report's own figures first, so that a band it cannot give is found before the file is
    // read; the recomputed spectrum's only once the samples are in.
    SummaryStatus status =
        recompute ? SummaryStatus::ok : summarise_report(options, cov, summary, why);
    if (status != SummaryStatus::ok) return status;
    if (options.use_samples) status = read_samples(options, summary, why);
    if (recompute) {
        if (!summary->has_samples) {
            *why = "--detrend recomputes the spectrum from the samples: " + *why;
            return SummaryStatus::bad_report;
        }
        recompute_spectrum(summary);
        const SummaryStatus report_status = summarise_report(options, cov, summary, why);
        if (report_status != SummaryStatus::ok) return report_status;
    }
    if (summary->has_samples) {
        compare_with_samples(summary);
        take_time_domain(cov, summary);
    }
    take_rsn0_interval(options, cov, summary);
    summary->area = options.area;
    summary->stern_geary = options.stern_geary;
    summary->electrode =
        electrode_figures(summary->has_samples ? summary->rn : std::nan(""), summary->rsn0,
                          summary->psi_v, summary->psi_i, options.area, options.stern_geary);
    if (options.per_bin)
        summary->bins =
            bin_figures(summary->report, cov,
                        summary->has_samples ? &*summary->samples.cross : nullptr, options.level);
    if (options.smooth) take_smoothed(summary);
    return status;
}

}  // namespace

SummaryStatus summarise(const std::string& report_path, const SummaryOptions& options,
                        Summary* summary, std::string* why) {
    *summary = Summary{};
    summary->report_path = report_path;
    std::string reason;
    if (!report_read(read_report(report_path.c_str(), &summary->report, &reason), report_path,
                     reason, why))
        return SummaryStatus::bad_report;
    return summarise_read(options, summary, why);
}

SummaryStatus summarise_text(const std::string& report_path, const std::string& text,
                             const SummaryOptions& options, Summary* summary, std::string* why) {
    *summary = Summary{};
    summary->report_path = report_path;
    std::string reason;
    if (!report_read(read_report_text(text, &summary->report, &reason), report_path, reason, why))
        return SummaryStatus::bad_report;
    return summarise_read(options, summary, why);
}

}  // namespace psd
