#include "summary/band_stats.h"

#include <boost/math/special_functions/trigamma.hpp>
#include <cmath>
#include <limits>

namespace psd {

namespace {

// The mean of values at indices, finite even where their sum would not be (densities near the
// largest double). REQUIRES: indices not empty.
double mean_at(const double* values, const std::vector<std::size_t>& indices) {
    const double count = static_cast<double>(indices.size());
    double sum = 0;
    for (std::size_t k : indices)
        sum += values[k];
    if (std::isfinite(sum)) return sum / count;
    sum = 0;
    for (std::size_t k : indices)
        sum += values[k] / count;
    return sum;
}

// One point of a fit: its bin number and its coordinates centred on their means.
struct Point {
    std::size_t bin;
    double x, y;
};

// The quadratic forms c' R c and 1' R 1 of the residuals' correlation R, c the centred log
// frequencies: R holds the correlation of points whose bins lie within the covariance's reach.
struct Forms {
    double line = 0, ones = 0;
};

Forms correlation_forms(const std::vector<Point>& p, const BinCorrelation& c) {
    Forms f;
    for (std::size_t i = 0; i < p.size(); ++i) {
        f.line += p[i].x * p[i].x;
        f.ones += 1;
        if (!c.cov) continue;
        for (std::size_t j = i + 1; j < p.size() && p[j].bin - p[i].bin <= c.cov->reach(); ++j) {
            const double r =
                log_power_correlation(c.cov->power_correlation(p[i].bin, p[j].bin), c.sections);
            f.line += 2 * r * p[i].x * p[j].x;
            f.ones += 2 * r;
        }
    }
    return f;
}

}  // namespace

BinRange bins_in_band(const double* frequency, std::size_t count, double f_low, double f_high) {
    BinRange range;
    while (range.first < count && frequency[range.first] < f_low)
        ++range.first;
    range.last = range.first;
    while (range.last < count && frequency[range.last] <= f_high)
        ++range.last;
    return range;
}

BandRatio ratio_of_band_means(const double* psd_v, const double* psd_i,
                              const std::vector<std::size_t>& indices) {
    BandRatio r;
    for (std::size_t k : indices)
        if (is_usable(psd_v[k]) && is_usable(psd_i[k])) r.used.push_back(k);
    if (r.used.empty()) {
        r.ratio = r.mean_v = r.mean_i = std::numeric_limits<double>::quiet_NaN();
        return r;
    }
    r.mean_v = mean_at(psd_v, r.used);
    r.mean_i = mean_at(psd_i, r.used);
    // Square roots first: the ratio of the means themselves could leave the doubles.
    r.ratio = std::sqrt(r.mean_v) / std::sqrt(r.mean_i);
    if (!std::isfinite(r.ratio)) r.ratio = std::numeric_limits<double>::quiet_NaN();
    return r;
}

SlopeFit fit_db_per_decade(const double* frequency, const double* values,
                           const std::vector<std::size_t>& indices, double db_per_log10,
                           const BinCorrelation& correlation) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Point> p;
    double mean_x = 0, mean_y = 0;
    for (std::size_t k : indices) {
        if (!is_usable(values[k]) || !is_usable(frequency[k])) continue;
        p.push_back({k + 1, std::log10(frequency[k]), db_per_log10 * std::log10(values[k])});
        mean_x += p.back().x;
        mean_y += p.back().y;
    }
    SlopeFit fit;
    fit.points = p.size();
    fit.slope = fit.std_error = nan;
    if (fit.points < 2) return fit;
    // Centred sums: log frequencies of one report are close to each other, so the textbook
    // one-pass formula would lose most of its digits to cancellation.
    const double n = static_cast<double>(fit.points);
    fit.mean_log_f = mean_x / n;
    fit.mean_db = mean_y / n;
    double sxx = 0, sxy = 0;
    for (Point& q : p) {
        q.x -= mean_x / n;
        q.y -= mean_y / n;
        sxx += q.x * q.x;
        sxy += q.x * q.y;
    }
    // Frequencies a few units in the last place apart have one logarithm: no line through them.
    fit.slope = sxx > 0 && std::isfinite(sxy / sxx) ? sxy / sxx : nan;
    if (fit.points < 3 || std::isnan(fit.slope)) return fit;
    double residuals = 0;
    for (const Point& q : p)
        residuals += (q.y - fit.slope * q.x) * (q.y - fit.slope * q.x);
    // With the slope's weights a = c / Sxx and the hat matrix H: Var(slope) = sigma^2 a' R a and
    // E[residuals] = sigma^2 tr((I - H) R) = sigma^2 (n - 1' R 1 / n - c' R c / Sxx).
    const Forms f = correlation_forms(p, correlation);
    const double dof = n - f.ones / n - f.line / sxx;
    fit.std_error = dof > 0 ? std::sqrt(residuals / dof * f.line / (sxx * sxx)) : nan;
    if (!std::isfinite(fit.std_error)) fit.std_error = nan;
    return fit;
}

std::vector<double> smoothed_top_decade(const double* frequency, const double* values,
                                        std::size_t count, const std::vector<bool>& left_out) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), half_width = std::pow(10, 0.05);
    std::vector<double> smoothed(count, nan);
    if (count == 0) return smoothed;
    // Running sums over the window [lo, hi), which only moves up as the bins do.
    double sum = 0;
    std::size_t used = 0, lo = 0, hi = 0;
    const double top = frequency[count - 1];
    for (std::size_t k = 0; k < count; ++k) {
        if (!(frequency[k] >= top / 10) || left_out[k]) continue;
        for (; hi < count && frequency[hi] <= frequency[k] * half_width; ++hi)
            if (!left_out[hi] && is_usable(values[hi])) sum += values[hi], ++used;
        for (; lo < hi && frequency[lo] < frequency[k] / half_width; ++lo)
            if (!left_out[lo] && is_usable(values[lo])) sum -= values[lo], --used;
        if (used > 0) smoothed[k] = sum / static_cast<double>(used);
    }
    return smoothed;
}

double log_power_correlation(double rho, std::int64_t sections) {
    const double m = static_cast<double>(sections);
    // Term j: rho^j c_j with c_1 = 1/M and c_{j+1} = c_j j^2 / ((j + 1)(M + j)).
    double sum = 0, power = rho, c = 1 / m;
    for (int j = 1; j < 100000 && power * c > 1e-17 * (sum + 1e-300); ++j) {
        sum += power * c;
        c *= static_cast<double>(j) * j / ((j + 1.0) * (m + j));
        power *= rho;
    }
    return sum / boost::math::trigamma(m);
}

}  // namespace psd
