#include "summary/quantiles.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <cstdint>
#include <limits>

namespace psd {

namespace {

// Domain errors come back as NaN rather than exceptions, and no quantile is rounded to an
// integer: plain real-valued answers are what a confidence factor needs.
using Policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::promote_double<false>>;

bool valid_probability(double p) {
    return p > 0 && p < 1;
}

}  // namespace

double chi_squared_quantile(double degrees_of_freedom, double p) {
    if (!valid_probability(p) || !(degrees_of_freedom > 0))
        return std::numeric_limits<double>::quiet_NaN();
    return boost::math::quantile(
        boost::math::chi_squared_distribution<double, Policy>(degrees_of_freedom), p);
}

double fisher_f_quantile(double dof_numerator, double dof_denominator, double p) {
    if (!valid_probability(p) || !(dof_numerator > 0) || !(dof_denominator > 0))
        return std::numeric_limits<double>::quiet_NaN();
    return boost::math::quantile(
        boost::math::fisher_f_distribution<double, Policy>(dof_numerator, dof_denominator), p);
}

double students_t_quantile(double degrees_of_freedom, double p) {
    if (!valid_probability(p) || !(degrees_of_freedom > 0))
        return std::numeric_limits<double>::quiet_NaN();
    return boost::math::quantile(
        boost::math::students_t_distribution<double, Policy>(degrees_of_freedom), p);
}

double QuantileCache::find(int law, double dof, double p) {
    for (const Entry& e : entries_)
        if (e.law == law && e.dof == dof && e.p == p) return e.value;
    const double value = law == 0   ? chi_squared_quantile(dof, p)
                         : law == 1 ? fisher_f_quantile(dof, dof, p)
                                    : students_t_quantile(dof, p);
    // A handful of distinct arguments in practice; a bound keeps a pathological run linear.
    if (entries_.size() < 64) entries_.push_back({law, dof, p, value});
    return value;
}

double QuantileCache::chi_squared(double degrees_of_freedom, double p) {
    return find(0, degrees_of_freedom, p);
}

double QuantileCache::fisher_f(double degrees_of_freedom, double p) {
    return find(1, degrees_of_freedom, p);
}

double QuantileCache::students_t(double degrees_of_freedom, double p) {
    return find(2, degrees_of_freedom, p);
}

bool confidence_factors(int nb_section, double level, ConfidenceFactors* factors) {
    const double tail = (1 - level) / 2;
    if (!valid_probability(level) || nb_section < 1 || !(tail < 1 - tail && 1 - tail < 1))
        return false;
    const double dof = 2.0 * nb_section;
    // estimate / true ~ chi2(dof) / dof, so the true value lies between estimate * dof / upper
    // quantile and estimate * dof / lower quantile.
    factors->density_low = dof / chi_squared_quantile(dof, 1 - tail);
    factors->density_high = dof / chi_squared_quantile(dof, tail);
    // Zn^2 estimate / true Zn^2 ~ F(dof, dof), and Zn is its square root.
    factors->zn_low = 1 / std::sqrt(fisher_f_quantile(dof, dof, 1 - tail));
    factors->zn_high = 1 / std::sqrt(fisher_f_quantile(dof, dof, tail));
    return std::isfinite(factors->density_low) && std::isfinite(factors->density_high) &&
           std::isfinite(factors->zn_low) && std::isfinite(factors->zn_high);
}

bool level_gives_factors(double level) {
    ConfidenceFactors factors;
    return confidence_factors(1, level, &factors) &&
           confidence_factors(std::numeric_limits<std::int32_t>::max(), level, &factors);
}

}  // namespace psd
