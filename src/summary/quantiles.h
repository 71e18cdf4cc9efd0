// How far one density bin and one Zn bin can be trusted. An average of M periodogram sections
// puts every density bin on a chi-squared law with 2M degrees of freedom around the true density
// (each section adds a real and an imaginary part, both Gaussian); the ratio of two such bins,
// the square of Zn, follows Fisher's F law with (2M, 2M) degrees of freedom when voltage and
// current are uncorrelated. The quantiles come from Boost.Math.
#pragma once

#include <vector>

namespace psd {

struct ConfidenceFactors {
    double density_low = 0;   // true density >= estimate * density_low
    double density_high = 0;  // true density <= estimate * density_high
    double zn_low = 0;        // likewise for Zn
    double zn_high = 0;
};

// The factors of the two-sided interval holding the true value with probability level, for a
// report averaging nb_section sections. Returns false when level is not in (0, 1), nb_section < 1
// or any factor is not a finite number: a level so close to 0 that its two tails are both 1/2 in
// double precision, or so close to 1 that a tail's complement is 1.
bool confidence_factors(int nb_section, double level, ConfidenceFactors* factors);

// Whether confidence_factors succeeds at level for every nb_section a report can hold (1 to
// 2^31 - 1); the factors are checked at both ends, the widest and the narrowest.
bool level_gives_factors(double level);

// Quantiles (inverse distribution functions) at probability p in (0, 1); NaN outside the domain.
double chi_squared_quantile(double degrees_of_freedom, double p);
double fisher_f_quantile(double dof_numerator, double dof_denominator, double p);
double students_t_quantile(double degrees_of_freedom, double p);
// Quantiles asked for many times over with the same degrees of freedom (a spectrum's bins): each
// distinct pair of arguments is computed once.
class QuantileCache {
  public:
    double chi_squared(double degrees_of_freedom, double p);
    double fisher_f(double degrees_of_freedom, double p);  // equal numerator and denominator
    double students_t(double degrees_of_freedom, double p);

  private:
    struct Entry {
        int law;
        double dof, p, value;
    };
    std::vector<Entry> entries_;
    double find(int law, double dof, double p);
};

}  // namespace psd
