#include "summary/record_stats.h"

#include <cmath>
#include <limits>

namespace psd {

void Moments::add(double r) {
    const double r2 = r * r;
    count += 1;
    sum2 += r2;
    sum3 += r2 * r;
    sum4 += r2 * r2;
}

void Moments::merge(const Moments& other) {
    count += other.count;
    sum2 += other.sum2;
    sum3 += other.sum3;
    sum4 += other.sum4;
}

double Moments::variance() const {
    return count > 0 ? sum2 / count : std::numeric_limits<double>::quiet_NaN();
}

double Moments::skewness() const {
    const double m2 = variance();
    return m2 > 0 ? sum3 / count / (m2 * std::sqrt(m2)) : std::numeric_limits<double>::quiet_NaN();
}

double Moments::kurtosis() const {
    const double m2 = variance();
    return m2 > 0 ? sum4 / count / (m2 * m2) : std::numeric_limits<double>::quiet_NaN();
}

ChannelSection channel_section(const double* x, std::uint32_t n, Detrend detrend) {
    ChannelSection c;
    // One fit gives the straight line too: its coefficients on the orthogonal basis are the
    // parabola's first two.
    const SectionTrend fit =
        fit_trend(detrend == Detrend::quadratic ? Detrend::quadratic : Detrend::linear, x, n);
    c.mean = fit.mean;
    c.slope = fit.linear;
    c.trend = fit;
    if (detrend == Detrend::mean) c.trend.linear = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
        const double centred = x[j] - fit.mean, on_line = fit.linear * trend_p1(j, n);
        c.centred_squares += centred * centred;
        c.line_squares += on_line * on_line;
        c.moments.add(detrended(c.trend, x[j], j, n));
    }
    return c;
}

const SectionFigures& RecordStats::add_section(const double* v, const double* i, double first_time,
                                               double last_time) {
    SectionFigures& f = last_;
    const double n = static_cast<double>(n_);
    if (sections_ == 0) {
        f.t_start = first_time;
        f.interval = (last_time - first_time) / (n - 1);
    } else {
        f.interval = (last_time - f.t_end) / n;
        f.t_start = f.t_end + f.interval;
    }
    f.index = sections_++;
    f.t_end = last_time;
    f.v = channel_section(v, n_, detrend_);
    f.i = channel_section(i, n_, detrend_);
    count_ += n;
    sum_i_ += f.i.mean * n;
    line_v_ += f.v.line_squares;
    line_i_ += f.i.line_squares;
    centred_v_ += f.v.centred_squares;
    centred_i_ += f.i.centred_squares;
    moments_v_.merge(f.v.moments);
    moments_i_.merge(f.i.moments);
    return f;
}

double localisation_index(double sigma_i, double mean_i) {
    const double rms = std::hypot(sigma_i, mean_i);
    return rms > 0 ? sigma_i / rms : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace psd
