#include "summary/summary.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>
#include <vector>

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
    s->rsn0 = mean_of_usable(s->report.zn.data(), bins, &s->rsn0_used);
    return true;
}

// The slope band's bins and the slopes; false with *why set when the band holds fewer than 2
// bins, the least a line can be fitted through.
bool take_slope_band(const SummaryOptions& options, Summary* s, std::string* why) {
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
    s->slope_v = fit_db_per_decade(f.data(), r.psd_v.data(), bins, 10);
    s->slope_i = fit_db_per_decade(f.data(), r.psd_i.data(), bins, 10);
    s->slope_zn = fit_db_per_decade(f.data(), r.zn.data(), bins, 20);
    return true;
}

// The figures of the report alone; *why says why when it cannot give them.
SummaryStatus summarise_report(const SummaryOptions& options, Summary* s, std::string* why) {
    s->deltat = report_deltat(s->report);
    const std::string damage = non_finite_density(s->report);
    if (!damage.empty()) {
        *why = in_quotes(s->report_path) + " cannot be summarised: " + damage;
        return SummaryStatus::bad_report;
    }
    if (!take_rsn0_band(options, s, why) || (options.slopes && !take_slope_band(options, s, why)))
        return SummaryStatus::bad_band;
    // Both ends of an interval or neither: a level too close to 0 or 1 leaves one undefined.
    if (!confidence_factors(s->report.header.nb_section, options.level, &s->factors)) {
        const double nan = std::nan("");
        s->factors = {nan, nan, nan, nan};
    }
    return SummaryStatus::ok;
}

// Rn and the checks of the report against its sample file's figures.
void compare_with_samples(Summary* s) {
    const ReportData& r = s->report;
    const std::size_t count = r.frequency.size();
    const SampleStats& samples = s->samples;
    s->rn = std::sqrt(samples.variance_v / samples.variance_i);
    // Rsn0 over an Rn that is not available (sigma_I = 0) would read as a ratio of 0.
    s->rsn0_over_rn = std::isfinite(s->rn) ? s->rsn0 / s->rn : std::nan("");
    // Bin k lies at k times the first bin's frequency, which is therefore the bins' width.
    const double bin_width = r.frequency.front();
    s->integrated_v = integrated_density(r.psd_v.data(), count, bin_width);
    s->integrated_i = integrated_density(r.psd_i.data(), count, bin_width);
    s->parseval_v = s->integrated_v / samples.variance_v;
    s->parseval_i = s->integrated_i / samples.variance_i;
    s->interval_error = samples.mean_interval / samples.first_interval - 1;
    s->interval_flagged = !(std::fabs(s->interval_error) <= interval_tolerance);
    // The Nyquist frequency psd derives from this file's first interval, as a 32-bit float.
    const double nyquist = static_cast<float>(1 / (samples.first_interval * 2));
    s->samples_mismatch = !(std::fabs(nyquist / r.frequency.back() - 1) <= nyquist_tolerance);
}

// The checks against the report's sample file, when it can be read.
SummaryStatus check_samples(const SummaryOptions& options, Summary* s, std::string* why) {
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
    const SampleStatsStatus status =
        read_sample_stats(s->samples_path.c_str(), in_quotes(s->samples_path), h.nb_section,
                          h.nbpoint_section, &s->samples, &reason);
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
    compare_with_samples(s);
    return SummaryStatus::ok;
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
    const SummaryStatus status = summarise_report(options, summary, why);
    if (status != SummaryStatus::ok || !options.use_samples) return status;
    return check_samples(options, summary, why);
}

}  // namespace psd
