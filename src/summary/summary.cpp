#include "summary/summary.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

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

void summarise_report(const SummaryOptions& options, Summary* s) {
    const ReportData& r = s->report;
    const std::size_t count = r.frequency.size();
    s->deltat = report_deltat(r);
    if (options.has_band) {
        s->rsn0_low = options.band_low;
        s->rsn0_high = options.band_high;
        s->rsn0_bins = bins_in_band(r.frequency.data(), count, s->rsn0_low, s->rsn0_high);
    } else {
        s->rsn0_bins.first = std::min(default_rsn0_first_bin - 1, count);
        s->rsn0_bins.last = std::min(default_rsn0_last_bin, count);
        if (s->rsn0_bins.first < s->rsn0_bins.last) {
            s->rsn0_low = r.frequency[s->rsn0_bins.first];
            s->rsn0_high = r.frequency[s->rsn0_bins.last - 1];
        }
    }
    s->rsn0 = mean_of_usable(r.zn.data(), s->rsn0_bins, &s->rsn0_used);

    if (options.has_slope_band) {
        s->slope_low = options.slope_low;
        s->slope_high = options.slope_high;
    } else {
        // The top of the bins Rsn0 was taken over; an empty band falls back on its upper
        // edge when one was given.
        if (s->rsn0_bins.first < s->rsn0_bins.last)
            s->slope_low = r.frequency[s->rsn0_bins.last - 1];
        else if (options.has_band && std::isfinite(s->rsn0_high))
            s->slope_low = s->rsn0_high;
        else
            s->slope_low = r.frequency.front();
        s->slope_high = slope_top_of_nyquist * r.frequency.back();
    }
    const BinRange slope_bins =
        bins_in_band(r.frequency.data(), count, s->slope_low, s->slope_high);
    s->slope_v = fit_db_per_decade(r.frequency.data(), r.psd_v.data(), slope_bins, 10);
    s->slope_i = fit_db_per_decade(r.frequency.data(), r.psd_i.data(), slope_bins, 10);
    s->slope_zn = fit_db_per_decade(r.frequency.data(), r.zn.data(), slope_bins, 20);

    confidence_factors(r.header.nb_section, options.level, &s->factors);
}

void summarise_samples(Summary* s) {
    const ReportData& r = s->report;
    const std::size_t count = r.frequency.size();
    const SampleStats& samples = s->samples;
    s->rn = std::sqrt(samples.variance_v / samples.variance_i);
    // Bin k lies at k times the first bin's frequency, which is therefore the bins' width.
    const double bin_width = r.frequency.front();
    s->parseval_v = integrated_density(r.psd_v.data(), count, bin_width) / samples.variance_v;
    s->parseval_i = integrated_density(r.psd_i.data(), count, bin_width) / samples.variance_i;
    s->interval_error = samples.mean_interval / samples.first_interval - 1;
    s->interval_flagged = !(std::fabs(s->interval_error) <= interval_tolerance);
    // The Nyquist frequency psd derives from this file's first interval, as a 32-bit float.
    const double nyquist = static_cast<float>(1 / (samples.first_interval * 2));
    s->samples_mismatch = !(std::fabs(nyquist / r.frequency.back() - 1) <= nyquist_tolerance);
}

}  // namespace

SummaryStatus summarise(const std::string& report_path, const SummaryOptions& options,
                        Summary* summary, std::string* why) {
    *summary = Summary{};
    summary->report_path = report_path;
    std::string reason;
    switch (read_report(report_path.c_str(), &summary->report, &reason)) {
        case ReportReadStatus::ok:
            break;
        case ReportReadStatus::unreadable:
            *why = "cannot read " + in_quotes(report_path) + ": " + reason;
            return SummaryStatus::bad_report;
        case ReportReadStatus::not_a_report:
            *why = in_quotes(report_path) + " is not a psd report: " + reason;
            return SummaryStatus::bad_report;
        case ReportReadStatus::truncated:
            *why = in_quotes(report_path) + " is truncated: " + reason;
            return SummaryStatus::bad_report;
    }
    summarise_report(options, summary);
    if (!options.use_samples) return SummaryStatus::ok;

    if (!options.samples.empty()) {
        summary->samples_path = options.samples;
    } else {
        // The report names its sample file as psd's configuration did: relative to the folder
        // psd ran in, which is the report's own folder in the usual layout.
        const std::filesystem::path folder = std::filesystem::path(report_path).parent_path();
        summary->samples_path = (folder / summary->report.header.data_file).string();
    }
    const ReportHeader& h = summary->report.header;
    const SampleStatsStatus status =
        read_sample_stats(summary->samples_path.c_str(), in_quotes(summary->samples_path),
                          h.nb_section, h.nbpoint_section, &summary->samples, &reason);
    if (status == SampleStatsStatus::missing) {
        *why = "the sample file " + in_quotes(summary->samples_path) + " of " +
               in_quotes(report_path) + " " + reason +
               " (give it with --samples FILE, or skip its checks with --no-samples)";
        return SummaryStatus::bad_samples;
    }
    if (status != SampleStatsStatus::ok) {
        // psd's own message about the file, which names it; the report it belongs to first.
        if (!reason.empty() && reason.back() == '\n') reason.pop_back();
        *why = "the sample file of " + in_quotes(report_path) + ": " + reason;
        return SummaryStatus::bad_samples;
    }
    summary->has_samples = true;
    summarise_samples(summary);
    return SummaryStatus::ok;
}

}  // namespace psd
