// psd-summary --plot-data: everything psd-plot draws, worked out here so that the gnuplot script
// reads no report and computes nothing but the drawing.
#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>

#include "summary/band_stats.h"
#include "summary/plot_axes.h"
#include "summary/summary_text.h"
#include "summary/text_format.h"

namespace psd {

namespace {

// A log axis leaves this much room beyond the values drawn (a twentieth of a decade), and shows
// at most this many labels: frequency has the page's width, a panel's values a fifth of its height.
constexpr double axis_margin = 0.05;
constexpr int frequency_labels = 12, value_labels = 6;
// The share of a panel's height kept above its values for the key.
constexpr double key_room = 0.3;
// The top of the reliable band: above it the window's leakage folds back across the Nyquist
// frequency and Zn bends upward.
constexpr double reliable_top = 0.95;

// A gnuplot string literal: in single quotes gnuplot takes every character as it stands but the
// quote itself, written twice. Nothing in a report's name can then reach gnuplot as a command.
std::string gnuplot_text(const std::string& text) {
    return quoted_text(text, '\'');
}

// gnuplot reads NaN as its own variable of that name.
std::string value(double v) {
    return std::isfinite(v) ? format("%.9g", v) : std::string("NaN");
}

// Bin k's band factors (density low and high, Zn low and high, relative to the bin's values)
// and its kind (0 regular, 1 biased, 2 fewer degrees of freedom), as plot data columns.
std::string bin_factors(const Summary& s, std::size_t k) {
    if (s.bins.empty())
        return value(s.factors.density_low) + " " + value(s.factors.density_high) + " " +
               value(s.factors.zn_low) + " " + value(s.factors.zn_high) + " 0";
    const BinFigures& b = s.bins[k];
    const double zn = s.report.zn[k];
    return value(b.density_low) + " " + value(b.density_high) + " " + value(b.zn.low / zn) + " " +
           value(b.zn.high / zn) + " " + std::to_string(static_cast<int>(b.kind));
}

// The smallest and largest usable values a panel draws.
struct Span {
    double low = HUGE_VAL, high = 0;
    void take(double v) {
        if (!is_usable(v)) return;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    bool empty() const { return high == 0; }
};

// The smoothed value of bin k of a column, NaN where there is none.
double smoothed(const std::vector<double>& column, std::size_t k) {
    return k < column.size() ? column[k] : std::nan("");
}

double smoothed_zn(const Summary& s, std::size_t k) {
    return std::sqrt(smoothed(s.smooth_v, k) / smoothed(s.smooth_i, k));
}

// The values of the three panels: each bin, its band and its smoothed value; Rn, Rsn0 and its
// interval on Zn's.
void panel_spans(const Summary& s, Span spans[3]) {
    const ReportData& r = s.report;
    for (std::size_t k = 0; k < r.frequency.size(); ++k) {
        const double values[3] = {r.psd_v[k], r.psd_i[k], r.zn[k]};
        const double smooth[3] = {smoothed(s.smooth_v, k), smoothed(s.smooth_i, k),
                                  smoothed_zn(s, k)};
        for (int p = 0; p < 3; ++p) {
            spans[p].take(values[p]);
            spans[p].take(smooth[p]);
            if (!is_usable(values[p])) continue;
            const bool zn = p == 2;
            const double low = s.bins.empty() ? (zn ? s.factors.zn_low : s.factors.density_low)
                               : zn           ? s.bins[k].zn.low / values[p]
                                              : s.bins[k].density_low;
            const double high = s.bins.empty() ? (zn ? s.factors.zn_high : s.factors.density_high)
                                : zn           ? s.bins[k].zn.high / values[p]
                                               : s.bins[k].density_high;
            spans[p].take(values[p] * low);
            spans[p].take(values[p] * high);
        }
    }
    for (double v : {s.rsn0, s.rsn0_interval.low, s.rsn0_interval.high, s.has_samples ? s.rn : 0})
        spans[2].take(v);
}

// "; NAME_low = ...; NAME_high = ...; NAME_tics = '(...)'; NAME_marks = '(...)'" for a log
// axis over span.
std::string axis_assignments(const char* name, const Span& span, double headroom, int labels) {
    if (span.empty())
        return format("; %s_low = NaN; %s_high = NaN; %s_tics = ''; %s_marks = ''", name, name,
                      name, name);
    const LogAxis axis = log_axis(span.low, span.high, axis_margin, headroom, labels);
    return format("; %s_low = ", name) + value(axis.low) + format("; %s_high = ", name) +
           value(axis.high) + format("; %s_tics = ", name) + gnuplot_text(axis.tics) +
           format("; %s_marks = ", name) + gnuplot_text(axis.marks);
}

// A caption for a paper: the data file, the sampling, the sections, the window and the trend.
std::string caption(const Summary& s) {
    const ReportHeader& h = s.report.header;
    return h.data_file + " · Δt = " + number(s.deltat) +
           format(" s · M = %d × N = %d · ", h.nb_section, h.nbpoint_section) +
           (h.hanning == 1 ? "Hann window" : "no window") + " · " + removed_words(s.detrend);
}

// A slope's line as the plot draws it: "; NAME = dB/decade; NAME_x = mean log10 f;
// NAME_y = mean dB", NaN when there is none (fitted is false without a slope band).
std::string slope_assignments(const char* name, const SlopeFit& fit, bool fitted) {
    const double nan = std::nan("");
    return format("; %s = ", name) + value(fitted ? fit.slope : nan) + format("; %s_x = ", name) +
           value(fitted ? fit.mean_log_f : nan) + format("; %s_y = ", name) +
           value(fitted ? fit.mean_db : nan);
}

// The unit a channel is drawn in over time: the SI prefix that keeps its values below 1000.
std::string unit_assignments(const char* name, const char* unit, double largest) {
    const struct {
        double scale;
        const char* prefix;
    } prefixes[] = {{1e12, "p"}, {1e9, "n"}, {1e6, "µ"}, {1e3, "m"}, {1, ""}};
    for (const auto& p : prefixes)
        if (largest * p.scale < 1000 || p.scale == 1)
            return format("; %s_scale = %g; %s_unit = '%s%s'", name, p.scale, name, p.prefix, unit);
    return "";
}

// The record over time: its units, and whether its drift is marked.
std::string record_assignments(const Summary& s) {
    const std::vector<TraceColumn> none;
    const std::vector<TraceColumn>& columns =
        s.has_samples && s.samples.trace ? s.samples.trace->columns() : none;
    std::string out = format("; trace = %zu", columns.size());
    double largest_v = 0, largest_i = 0, span = 0;
    for (const TraceColumn& c : columns) {
        largest_v = std::max({largest_v, std::fabs(c.v_min), std::fabs(c.v_max)});
        largest_i = std::max({largest_i, std::fabs(c.i_min), std::fabs(c.i_max)});
        span = c.t_last - columns.front().t_first;
    }
    const bool hours = span > 3 * 3600, minutes = !hours && span > 300;
    out += format("; t_scale = %g; t_unit = '%s'",
                  hours     ? 1 / 3600.0
                  : minutes ? 1 / 60.0
                            : 1.0,
                  hours     ? "h"
                  : minutes ? "min"
                            : "s");
    out += unit_assignments("v", "V", largest_v) + unit_assignments("i", "A", largest_i);
    out += "; detrend = '" + detrend_word(s.detrend) + "'";
    out += format("; drift = %d; drift_text = ", s.drift_flagged ? 1 : 0) +
           gnuplot_text(s.drift_flagged
                            ? format("drift: the sections' lines hold %.3g %% of V's variance "
                                     "and %.3g %% of I's (--detrend linear removes them)",
                                     100 * s.drift_fraction_v, 100 * s.drift_fraction_i)
                            : std::string());
    return out;
}

// The figures drawn over the spectra: the bands' factors, Rsn0, Rn and the slopes.
std::string figure_assignments(const Summary& s, double level) {
    const bool fitted = s.slope_bins.last - s.slope_bins.first >= 2;
    const double nan = std::nan("");
    return "level = " + value(level) + "; density_low = " + value(s.factors.density_low) +
           "; density_high = " + value(s.factors.density_high) +
           "; zn_low = " + value(s.factors.zn_low) + "; zn_high = " + value(s.factors.zn_high) +
           "; rsn0_low = " + value(s.rsn0_used > 0 ? s.rsn0_low : std::nan("")) +
           "; rsn0_high = " + value(s.rsn0_used > 0 ? s.rsn0_high : std::nan("")) +
           "; rsn0 = " + value(s.rsn0) + "; rsn0_lower = " + value(s.rsn0_interval.low) +
           "; rsn0_upper = " + value(s.rsn0_interval.high) +
           "; coherence = " + value(s.rsn0_interval.coherence) + "; zn_model = '" +
           (std::isfinite(s.rsn0) ? model_word(s.rsn0_interval.model, s.rsn0_interval.coherence)
                                  : std::string("none")) +
           "'; rn = " + value(s.has_samples ? s.rn : std::nan("")) +
           "; slope_low = " + value(fitted ? s.slope_low : nan) +
           "; slope_high = " + value(fitted ? s.slope_high : nan) +
           slope_assignments("slope_v", s.slope_v, fitted) +
           slope_assignments("slope_i", s.slope_i, fitted) +
           slope_assignments("slope_zn", s.slope_zn, fitted);
}

// The bins' counts, the frequency span and the axes.
std::string axes_assignments(const Summary& s) {
    const ReportData& r = s.report;
    std::size_t usable_v = 0, usable_i = 0, usable_zn = 0;
    Span frequencies, spans[3];
    for (std::size_t k = 0; k < r.frequency.size(); ++k) {
        if (!is_usable(r.frequency[k])) continue;
        frequencies.take(r.frequency[k]);
        usable_v += is_usable(r.psd_v[k]);
        usable_i += is_usable(r.psd_i[k]);
        usable_zn += is_usable(r.zn[k]);
    }
    panel_spans(s, spans);
    const double nan = std::nan("");
    return format("; bins = %zu", r.frequency.size()) +
           format("; usable_v = %zu; usable_i = %zu; usable_zn = %zu", usable_v, usable_i,
                  usable_zn) +
           "; f_low = " + value(frequencies.empty() ? nan : frequencies.low) +
           "; f_high = " + value(frequencies.empty() ? nan : frequencies.high) +
           "; reliable_top = " + value(reliable_top * r.frequency.back()) +
           format("; smooth = %d", s.smooth_v.empty() ? 0 : 1) +
           axis_assignments("x", frequencies, 0, frequency_labels) +
           axis_assignments("y_v", spans[0], key_room, value_labels) +
           axis_assignments("y_i", spans[1], key_room, value_labels) +
           axis_assignments("y_zn", spans[2], key_room, value_labels);
}

}  // namespace

std::string plot_data(const Summary& s, double level) {
    const ReportData& r = s.report;
    std::string out = figure_assignments(s, level) + axes_assignments(s) + record_assignments(s) +
                      "; title = " + gnuplot_text(caption(s)) + "\n";
    // The bins appended in place, their room taken at once: a long report's rows are the most of
    // the memory it takes, and a string growing by doubling would hold twice that.
    out.reserve(out.size() + r.frequency.size() * 128);
    for (std::size_t k = 0; k < r.frequency.size(); ++k) {
        out += format("%.9g %.9g %.9g %.9g ", r.frequency[k], r.psd_v[k], r.psd_i[k], r.zn[k]);
        out += bin_factors(s, k) + " " + value(smoothed(s.smooth_v, k)) + " " +
               value(smoothed(s.smooth_i, k)) + " " + value(smoothed_zn(s, k)) + "\n";
    }
    if (!s.has_samples || !s.samples.trace) return out;
    // The record over time, a second block (gnuplot's index 1) after two blank lines.
    out += "\n\n";
    for (const TraceColumn& c : s.samples.trace->columns()) {
        const double fields[] = {c.t_first,       c.t_last,      c.v_min,         c.v_max,
                                 c.i_min,         c.i_max,       c.v_trend_first, c.v_trend_last,
                                 c.i_trend_first, c.i_trend_last};
        for (std::size_t f = 0; f < std::size(fields); ++f)
            out += value(fields[f]) + (f + 1 < std::size(fields) ? " " : "\n");
    }
    return out;
}

}  // namespace psd
