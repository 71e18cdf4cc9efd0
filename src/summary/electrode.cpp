#include "summary/electrode.h"

#include <cmath>

namespace psd {

namespace {

// value where it is a finite number, else NaN: no figure is given as 0 or inf for what is not.
double finite_or_nan(double value) {
    return std::isfinite(value) ? value : std::nan("");
}

}  // namespace

ElectrodeFigures electrode_figures(double rn, double rsn0, double psi_v, double psi_i, double area,
                                   double b) {
    const double nan = std::nan("");
    const bool has_area = area > 0, has_b = b > 0;
    ElectrodeFigures e;
    e.rn_area = has_area ? finite_or_nan(rn * area) : nan;
    e.rsn0_area = has_area ? finite_or_nan(rsn0 * area) : nan;
    e.icorr = has_b && rn > 0 ? finite_or_nan(b / rn) : nan;
    e.icorr_density = has_b && has_area && rn > 0 ? finite_or_nan(b / (rn * area)) : nan;
    e.charge = has_b ? finite_or_nan(std::sqrt(psi_v) * std::sqrt(psi_i) / b) : nan;
    e.frequency = has_b && psi_v > 0 ? finite_or_nan(b * b / psi_v) : nan;
    return e;
}

}  // namespace psd
