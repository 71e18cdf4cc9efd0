#include "summary/summary_text.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>

#include "summary/text_format.h"

namespace psd {

namespace {

// A quantity with its unit, or why it is not available.
std::string quantity(double value, const char* unit, const std::string& why) {
    return std::isfinite(value) ? number(value) + " " + unit : "not available (" + why + ")";
}

std::string slope_text(const SlopeFit& fit) {
    if (fit.points < 2) return "not available (fewer than 2 usable bins)";
    if (std::isnan(fit.slope))
        return "not available (the bins' frequencies are too close together for a line)";
    if (std::isnan(fit.std_error))
        return format("%.2f (%s)", fit.slope,
                      fit.points < 3 ? "2 bins: no standard error" : "no standard error");
    return format("%.2f +/- %.2f", fit.slope, fit.std_error);
}

// The factors of one bin's interval and the law they come from. The summary holds all four
// factors or none.
std::string factors_text(double low, double high, const std::string& law) {
    if (!std::isfinite(low) || !std::isfinite(high))
        return "not available (the level is too close to 0 or 1)";
    return format("x%.3g to x%.3g (", low, high) + law + ")";
}

std::string window_text(int hanning) {
    return hanning == 1 ? "Hann (hanning = 1)" : format("none (hanning = %d)", hanning);
}

std::string level_percent(double level) {
    return format("%g %%", level * 100);
}

// The report's parameters: file, window, sections, interval and band.
std::string parameters_text(const Summary& s) {
    const ReportData& r = s.report;
    const std::size_t bins = r.frequency.size();
    std::string out = s.report_path + "\n";
    out += "  data file          " + r.header.data_file + "\n";
    out += "  window             " + window_text(r.header.hanning) + "\n";
    out += format("  sections           M = %d of N = %d samples (%lld samples in all)\n",
                  r.header.nb_section, r.header.nbpoint_section,
                  static_cast<long long>(r.header.nb_section) * r.header.nbpoint_section);
    out += "  sampling interval  " + number(s.deltat) + " s (from the Nyquist frequency, " +
           number(r.frequency.back()) + " Hz)\n";
    out += format("  band               %s Hz to %s Hz, %zu bins %s Hz apart\n",
                  number(r.frequency.front()).c_str(), number(r.frequency.back()).c_str(), bins,
                  number(r.frequency.front()).c_str());
    if (s.detrend == Detrend::mean)
        return out +
               "  trend removed      each section's mean (--detrend none): the report's own "
               "figures\n";
    return out + "  trend removed      each section's least-squares " +
           (s.detrend == Detrend::linear ? "line" : "parabola") + " (--detrend " +
           detrend_word(s.detrend) +
           "): every figure below is from the samples' spectrum recomputed so, not the "
           "report's\n";
}

// The special bins by number with what sets them apart; empty when none.
std::string special_text(const Summary& s) {
    std::string list;
    const long long m = s.report.header.nb_section;
    for (std::size_t k : s.special_bins) {
        list += list.empty() ? "" : ", ";
        if (k == s.report.frequency.size())
            list += format("%zu (Nyquist: real-valued, %lld degrees of freedom, not %lld)", k, m,
                           2 * m);
        else
            list += format("%zu (lowered by each section's mean removal before the window)", k);
    }
    return list;
}

// Which case of voltage and current the interval took, with the coherence it rests on.
std::string model_text(const Summary& s) {
    const ZnInterval& z = s.rsn0_interval;
    const std::string coherence = format("coherence %.4g", z.coherence);
    const std::string phase = format(", Zn phase %.1f deg", s.rsn0_phase_deg);
    switch (z.model) {
        case ZnModel::assumed_uncorrelated:
            return format("V and I assumed uncorrelated (no sample file read): F(%.4g, %.4g)",
                          z.dof, z.dof);
        case ZnModel::too_few_averages:
            return format(
                "V and I assumed uncorrelated (too few averages to tell the coherence): "
                "F(%.4g, %.4g)",
                z.dof, z.dof);
        case ZnModel::uncorrelated:
            return "V and I uncorrelated (" + coherence + format("): F(%.4g, %.4g)", z.dof, z.dof);
        case ZnModel::coherent:
            return (z.coherence >= 0.9 ? "coherent cell (" : "V and I partly coherent (") +
                   coherence + phase +
                   format("): transfer-function error, t with %.4g degrees of freedom", z.dof);
    }
    return "";
}

std::string rsn0_text(const Summary& s, double level) {
    const BinRange& b = s.rsn0_bins;
    const std::string band = b.first < b.last
                                 ? format("bins %zu to %zu, %s to %s Hz", b.first + 1, b.last,
                                          number(s.rsn0_low).c_str(), number(s.rsn0_high).c_str())
                                 : std::string("bins 2 to 6, which the report does not have");
    const std::string left_out =
        s.rsn0_left_out > 0 ? format(", %zu special left out", s.rsn0_left_out) : "";
    if (!std::isfinite(s.rsn0))
        return "  Rsn0               not available: no usable PSD_v and PSD_i in " + band +
               left_out + "\n";
    const ZnInterval& z = s.rsn0_interval;
    std::string out = "  Rsn0               " + number(s.rsn0) + " ohm";
    if (std::isfinite(z.low) && std::isfinite(z.high))
        out += ", " + level_percent(level) + " interval " + number(z.low) + " to " +
               number(z.high) + " ohm";
    out += ": sqrt(mean PSD_v / mean PSD_i) over " + band +
           (s.rsn0_used < b.last - b.first ? format(" (%zu usable", s.rsn0_used) + left_out + ")"
                                           : "") +
           "\n";
    out += "    V and I          " + model_text(s) + "\n";
    if (partly_coherent(z))
        out +=
            "    warning          the coherence is neither near 0 nor near 1: neither interval "
            "model is exact\n";
    return out;
}

// The factors of one bin: regular bins, then the special ones.
std::string factors_block(const Summary& s, double level) {
    // 2M in 64 bits: M may be as large as 2^31 - 1.
    const long long m = s.report.header.nb_section, dof = 2 * m;
    const ConfidenceFactors& k = s.factors;
    std::string out = "  " + level_percent(level) +
                      " confidence: the true value of one bin lies within these factors of the "
                      "report's\n";
    out += "    PSD_v, PSD_i     " +
           factors_text(k.density_low, k.density_high,
                        format("chi-squared, %lld degrees of freedom", dof)) +
           "\n";
    out += "    Zn               " +
           factors_text(k.zn_low, k.zn_high,
                        format("F(%lld, %lld), assuming uncorrelated voltage and current; "
                               "coherent ones narrow it, see --spectrum",
                               dof, dof)) +
           "\n";
    const std::string special = special_text(s);
    if (!special.empty())
        out +=
            "    special bins     " + special + ": " +
            (s.special_kept ? "kept in Rsn0 and the slopes"
                            : "left out of Rsn0 and the slopes (--keep-special-bins keeps them)") +
            "\n";
    return out;
}

// The figures read off the spectrum: Rsn0, the slopes and the confidence factors of a bin.
std::string spectrum_text(const Summary& s, double level) {
    std::string out = rsn0_text(s, level);
    if (s.slope_bins.last - s.slope_bins.first < 2) {
        out +=
            "  slopes, dB/decade  not available: the default band holds fewer than 2 bins "
            "(give one with --slope-band)\n";
    } else {
        out += format(
            "  slopes, dB/decade  least squares on the log-log spectrum, %s to %s Hz "
            "(%zu bins%s); +/- allows for the window's correlated bins\n",
            number(s.slope_low).c_str(), number(s.slope_high).c_str(),
            s.slope_bins.last - s.slope_bins.first - s.slope_left_out,
            s.slope_left_out > 0 ? format(", %zu special left out", s.slope_left_out).c_str() : "");
        out += "    PSD_v            " + slope_text(s.slope_v) + "\n";
        out += "    PSD_i            " + slope_text(s.slope_i) + "\n";
        out += "    Zn               " + slope_text(s.slope_zn) + " (20 log10 Zn)\n";
    }
    return out + factors_block(s, level);
}

// Rn with the standard deviations it comes from, or why it cannot be formed.
std::string rn_text(const Summary& s) {
    const SampleStats& m = s.samples;
    if (!std::isfinite(m.variance_v) || !std::isfinite(m.variance_i))
        return "not available: the samples are not all finite numbers";
    const std::string sigmas = " (sigma_V = " + number(std::sqrt(m.variance_v)) +
                               " V, sigma_I = " + number(std::sqrt(m.variance_i)) + " A, " +
                               removed_words(s.detrend) + ")";
    if (std::isfinite(s.rn)) return number(s.rn) + " ohm" + sigmas;
    if (m.variance_i == 0)
        return std::string("not available: ") +
               (m.variance_v == 0 ? "the voltage and the current are both constant"
                                  : "the current is constant") +
               sigmas;
    return "not available: sigma_V / sigma_I is too large for a double" + sigmas;
}

std::string rsn0_over_rn_text(const Summary& s) {
    if (std::isfinite(s.rsn0_over_rn)) return number(s.rsn0_over_rn);
    if (!std::isfinite(s.rsn0)) return "not available: no Rsn0";
    if (!std::isfinite(s.rn)) return "not available: no Rn";
    return s.rn == 0 ? "not available: Rn is 0" : "not available: too large for a double";
}

// The mean interval of the samples used against the first, with a warning when they differ.
std::string interval_text(const Summary& s) {
    const SampleStats& m = s.samples;
    if (!std::isfinite(m.mean_interval))
        return "    mean interval    not available: the time stamps do not give a finite mean "
               "interval\n";
    const double percent = s.interval_error * 100;
    std::string out =
        "    mean interval    " + number(m.mean_interval) + " s against " +
        number(m.first_interval) + " s from the first two time stamps (" +
        (std::isfinite(percent) ? format("%+.3f %%", std::fabs(percent) < 5e-4 ? 0.0 : percent)
                                : std::string("too far apart to compare")) +
        ")\n";
    if (s.interval_flagged && std::isfinite(percent))
        out += format(
            "    warning          the sampling is not uniform: the report's frequencies "
            "are %.3g %% too %s\n",
            std::fabs(percent), percent > 0 ? "high" : "low");
    else if (s.interval_flagged)
        out += "    warning          the sampling is not uniform\n";
    return out;
}

// Why Parseval's ratio of one channel cannot be formed.
std::string parseval_reason(double integrated, double expected) {
    if (expected == 0) return "the variance is 0";
    if (!std::isfinite(expected)) return "no variance";
    return std::isfinite(integrated) ? "too large for a double" : "no integral";
}

// Parseval's check of one channel: the density integrated over frequency (bin 0 from the
// samples) against the power the report's scale gives the windowed sections.
std::string parseval_text(const char* channel, const char* unit, double integrated, double expected,
                          double windowed_variance, double ratio, bool window) {
    const std::string variance = window ? "windowed variance " : "variance ";
    std::string out = format("    Parseval %s   integrated ", channel) +
                      quantity(integrated, unit, "the sum is too large for a double") +
                      ", expected " +
                      quantity(expected, unit, "the samples are not all finite numbers");
    if (window && std::isfinite(windowed_variance))
        out += " from the " + variance + quantity(windowed_variance, unit, "");
    return out + ": ratio " +
           (std::isfinite(ratio)
                ? format("%.4f", ratio)
                : "not available (" + parseval_reason(integrated, expected) + ")") +
           "\n";
}

// The share of each channel's variance, and of the Rsn0 band's power, that the sections'
// straight lines hold, and the warning when it is large enough to move Rn or Rsn0.
std::string drift_text(const Summary& s) {
    auto percent = [](double f) {
        return std::isfinite(f) ? format("%.3g %%", 100 * f) : std::string("not available");
    };
    std::string out = "    drift            the sections' straight lines hold " +
                      percent(s.drift_fraction_v) + " of V's variance, " +
                      percent(s.drift_fraction_i) + " of I's";
    if (s.detrend != Detrend::mean) return out + "; removed before every figure\n";
    out += "; " + percent(s.drift_band_fraction_v) + " and " + percent(s.drift_band_fraction_i) +
           " of their power in the Rsn0 band\n";
    if (!s.drift_flagged) return out;
    // Without the lines each variance, and each band's power, loses its share.
    auto change = [](double v, double i) {
        return v < 1 && i < 1 ? format("%+.1f %%", 100 * (std::sqrt((1 - v) / (1 - i)) - 1))
                              : std::string("changed beyond telling");
    };
    return out + "    warning          drift: without these lines Rn would be " +
           change(s.drift_fraction_v, s.drift_fraction_i) + " and Rsn0 " +
           change(s.drift_band_fraction_v, s.drift_band_fraction_i) +
           "; --detrend linear removes them\n";
}

// The time-domain moments of the samples less each section's trend.
std::string moments_text(const Summary& s) {
    std::string out = "    time domain      " + removed_words(s.detrend) +
                      ", population moments (0 and 3 for a normal record)\n";
    out += "      sigma_V, I     " + number(s.sigma_v) + " V, " + number(s.sigma_i) + " A\n";
    out += "      mean current   " + number(s.mean_i) + " A\n";
    out += "      skewness V, I  " + number(s.skewness_v) + ", " + number(s.skewness_i) + "\n";
    out += "      kurtosis V, I  " + number(s.kurtosis_v) + ", " + number(s.kurtosis_i) + "\n";
    out += "      localisation   " + number(s.localisation_index) +
           " (sigma_I / I_rms, Mansfeld & Sun 1999: near 1 whenever the mean current is near 0, "
           "and says little about localised corrosion)\n";
    return out;
}

// The figures of one electrode, with the area and B they take; empty when neither is given.
// The checks against the sample file: Rn, the mean interval and Parseval's.
std::string samples_text(const Summary& s) {
    const SampleStats& m = s.samples;
    std::string out = format("  sample file        %s, first %lld samples\n",
                             s.samples_path.c_str(), static_cast<long long>(m.samples));
    if (s.samples_mismatch)
        out +=
            "    warning          its first two time stamps do not give the report's "
            "frequencies: is it the file the report was made from?\n";
    out += "    Rn               " + rn_text(s) + "\n";
    out += "    Rsn0 / Rn        " + rsn0_over_rn_text(s) + "\n";
    out += interval_text(s);
    const bool window = s.report.header.hanning == 1;
    out += parseval_text("PSD_v", "V^2", s.integrated_v, s.expected_power_v, s.windowed_variance_v,
                         s.parseval_v, window);
    out += parseval_text("PSD_i", "A^2", s.integrated_i, s.expected_power_i, s.windowed_variance_i,
                         s.parseval_i, window);
    return out + drift_text(s) + moments_text(s);
}

std::string electrode_text(const Summary& s) {
    if (!(s.area > 0) && !(s.stern_geary > 0)) return "";
    const ElectrodeFigures& e = s.electrode;
    const bool area = s.area > 0, b = s.stern_geary > 0;
    std::string out = "  electrode          " +
                      (area ? "area " + number(s.area) + " cm^2" : std::string("no area given")) +
                      (b ? ", B = " + number(s.stern_geary) + " V" : std::string()) + "\n";
    const std::string no_rn = s.has_samples ? "no Rn" : "no sample file, so no Rn";
    if (area) {
        out += "    Rn x area        " + quantity(e.rn_area, "ohm cm^2", no_rn) + "\n";
        out += "    Rsn0 x area      " + quantity(e.rsn0_area, "ohm cm^2", "no Rsn0") + "\n";
    }
    if (!b) return out;
    out += area ? "    icorr            " + quantity(e.icorr_density, "A/cm^2", no_rn) +
                      ": B / (Rn A), Stern-Geary with Rn\n"
                : "    Icorr            " + quantity(e.icorr, "A", no_rn) +
                      ": B / Rn, Stern-Geary with Rn (--area gives A/cm^2)\n";
    out += "    q                " + quantity(e.charge, "C", "no Rsn0 band") +
           ": sqrt(psi_V psi_I) / B, psi the mean PSD over the Rsn0 band (Cottis et al. 2001)\n";
    out += "    fn               " + quantity(e.frequency, "Hz", "no Rsn0 band") +
           ": B^2 / psi_V (Al-Mazeedi & Cottis 2004)\n";
    return out;
}

}  // namespace

// The model of an interval as one word, for tables.
std::string model_word(ZnModel model, double coherence) {
    switch (model) {
        case ZnModel::assumed_uncorrelated:
            return "assumed_uncorrelated";
        case ZnModel::too_few_averages:
            return "too_few_averages";
        case ZnModel::uncorrelated:
            return "uncorrelated";
        case ZnModel::coherent:
            return coherence >= 0.9 ? "coherent" : "partly_coherent";
    }
    return "";
}

std::string special_list(const Summary& s) {
    std::string list;
    for (std::size_t k : s.special_bins)
        list += (list.empty() ? "" : " ") + std::to_string(k);
    return list;
}

std::string summary_block(const Summary& s, double level) {
    const std::string out = parameters_text(s) + spectrum_text(s, level);
    return (s.has_samples ? out + samples_text(s) : out) + electrode_text(s);
}

std::string csv_header() {
    return "report,data_file,hanning,nb_section,nbpoint_section,deltat_s,f_low_hz,f_high_hz,"
           "rsn0_low_hz,rsn0_high_hz,rsn0_bins,rsn0_ohm,rsn0_low_ohm,rsn0_high_ohm,rsn0_model,"
           "slope_low_hz,slope_high_hz,"
           "slope_psd_v_db_per_decade,slope_psd_v_se,slope_psd_i_db_per_decade,slope_psd_i_se,"
           "slope_zn_db_per_decade,slope_zn_se,level,density_factor_low,density_factor_high,"
           "zn_factor_low,zn_factor_high,special_bins,sample_file,rn_ohm,rsn0_over_rn,"
           "mean_interval_s,interval_error_percent,parseval_v,parseval_i,coherence_rsn0_band,"
           "zn_phase_rsn0_band_deg,detrend,drift_fraction_v,drift_fraction_i,drift_band_fraction_v,"
           "drift_band_fraction_i,sigma_v,sigma_i,"
           "mean_i,skewness_v,skewness_i,kurtosis_v,kurtosis_i,localisation_index,area_cm2,"
           "rn_ohm_cm2,rsn0_ohm_cm2,stern_geary_v,icorr_a,icorr_a_cm2,q_coulomb,fn_hz\n";
}

namespace {

// The cells of the time-domain and electrode figures, the row's last, with its line feed.
std::string time_and_electrode_cells(const Summary& s) {
    const double nan = std::nan("");
    const bool m = s.has_samples;
    const ElectrodeFigures& e = s.electrode;
    const double time_fields[] = {m ? s.drift_fraction_v : nan,
                                  m ? s.drift_fraction_i : nan,
                                  m ? s.drift_band_fraction_v : nan,
                                  m ? s.drift_band_fraction_i : nan,
                                  m ? s.sigma_v : nan,
                                  m ? s.sigma_i : nan,
                                  m ? s.mean_i : nan,
                                  m ? s.skewness_v : nan,
                                  m ? s.skewness_i : nan,
                                  m ? s.kurtosis_v : nan,
                                  m ? s.kurtosis_i : nan,
                                  m ? s.localisation_index : nan,
                                  s.area > 0 ? s.area : nan,
                                  e.rn_area,
                                  e.rsn0_area,
                                  s.stern_geary > 0 ? s.stern_geary : nan,
                                  s.area > 0 ? nan : e.icorr,
                                  e.icorr_density,
                                  e.charge,
                                  e.frequency};
    std::string cells;
    for (std::size_t i = 0; i < std::size(time_fields); ++i)
        cells += csv_number(time_fields[i]) + (i + 1 < std::size(time_fields) ? "," : "\n");
    return cells;
}

}  // namespace

std::string csv_row(const Summary& s, double level) {
    const ReportData& r = s.report;
    const double nan = std::nan("");
    const bool m = s.has_samples;
    std::string row = csv_text(s.report_path) + "," + csv_text(r.header.data_file) + ",";
    row += format("%d,%d,%d,", r.header.hanning, r.header.nb_section, r.header.nbpoint_section);
    const double fields[] = {s.deltat,   r.frequency.front(), r.frequency.back(),
                             s.rsn0_low, s.rsn0_high,         static_cast<double>(s.rsn0_used),
                             s.rsn0};
    for (double value : fields)
        row += csv_number(value) + ",";
    row += csv_number(s.rsn0_interval.low) + "," + csv_number(s.rsn0_interval.high) + ",";
    row += (std::isfinite(s.rsn0) ? model_word(s.rsn0_interval.model, s.rsn0_interval.coherence)
                                  : std::string()) +
           ",";
    const double slope_fields[] = {
        s.slope_low,           s.slope_high,           s.slope_v.slope,
        s.slope_v.std_error,   s.slope_i.slope,        s.slope_i.std_error,
        s.slope_zn.slope,      s.slope_zn.std_error,   level,
        s.factors.density_low, s.factors.density_high, s.factors.zn_low,
        s.factors.zn_high};
    for (double value : slope_fields)
        row += csv_number(value) + ",";
    row += special_list(s) + ",";
    row += (m ? csv_text(s.samples_path) : std::string()) + ",";
    const double sample_fields[] = {m ? s.rn : nan,
                                    m ? s.rsn0_over_rn : nan,
                                    m ? s.samples.mean_interval : nan,
                                    m ? s.interval_error * 100 : nan,
                                    m ? s.parseval_v : nan,
                                    m ? s.parseval_i : nan,
                                    m ? s.rsn0_interval.coherence : nan,
                                    m ? s.rsn0_phase_deg : nan};
    for (double value : sample_fields)
        row += csv_number(value) + ",";
    row += detrend_word(s.detrend) + ",";
    return row + time_and_electrode_cells(s);
}

std::string section_csv_header(bool with_report) {
    return std::string(with_report ? "report," : "") +
           "section,t_start_s,mean_v,mean_i,sigma_v,sigma_i,rn_ohm,skewness_v,skewness_i,"
           "kurtosis_v,kurtosis_i,drift_slope_v_per_s,drift_slope_i_per_s\n";
}

std::string section_csv_row(const std::string& report, const SectionFigures& f) {
    const double sigma_v = std::sqrt(f.v.moments.variance()),
                 sigma_i = std::sqrt(f.i.moments.variance());
    const double fields[] = {f.t_start,
                             f.v.mean,
                             f.i.mean,
                             sigma_v,
                             sigma_i,
                             sigma_v / sigma_i,
                             f.v.moments.skewness(),
                             f.i.moments.skewness(),
                             f.v.moments.kurtosis(),
                             f.i.moments.kurtosis(),
                             f.v.slope / f.interval,
                             f.i.slope / f.interval};
    std::string row = (report.empty() ? "" : csv_text(report) + ",") + std::to_string(f.index + 1);
    for (double value : fields)
        row += "," + csv_number(value);
    return row + "\n";
}

std::string spectrum_table(const Summary& s) {
    std::string out =
        "bin,frequency_hz,kind,psd_v,psd_v_low,psd_v_high,psd_i,psd_i_low,psd_i_high,zn_ohm,"
        "zn_low_ohm,zn_high_ohm,zn_model,coherence,coherence_low,coherence_high,zn_phase_deg,"
        "zn_phase_low_deg,zn_phase_high_deg\n";
    const ReportData& r = s.report;
    const char* const kinds[] = {"regular", "biased", "fewer_dof"};
    for (std::size_t k = 0; k < s.bins.size(); ++k) {
        const BinFigures& b = s.bins[k];
        const double phase_half = b.zn.phase_half_width_deg;
        out += format("%zu,", k + 1) + csv_number(r.frequency[k]) + "," +
               kinds[static_cast<int>(b.kind)] + ",";
        const double densities[] = {r.psd_v[k],
                                    r.psd_v[k] * b.density_low,
                                    r.psd_v[k] * b.density_high,
                                    r.psd_i[k],
                                    r.psd_i[k] * b.density_low,
                                    r.psd_i[k] * b.density_high,
                                    r.zn[k],
                                    b.zn.low,
                                    b.zn.high};
        for (double v : densities)
            out += csv_number(v) + ",";
        out += (std::isfinite(b.zn.low) ? model_word(b.zn.model, b.zn.coherence) : "") + ",";
        const double rest[] = {b.coherence, b.coherence_low,          b.coherence_high,
                               b.phase_deg, b.phase_deg - phase_half, b.phase_deg + phase_half};
        for (std::size_t i = 0; i < std::size(rest); ++i)
            out += csv_number(rest[i]) + (i + 1 < std::size(rest) ? "," : "\n");
    }
    return out;
}

}  // namespace psd
