#include "summary/zn_interval.h"

#include <algorithm>
#include <cmath>

namespace psd {

namespace {

// The significance of the coherence test that chooses the model.
constexpr double coherence_test_level = 0.05;

}  // namespace

ZnInterval zn_interval(double estimate, double averages, double raw_coherence, double pool_averages,
                       double level, QuantileCache* quantiles) {
    QuantileCache own;
    QuantileCache& q = quantiles ? *quantiles : own;
    const double tail = (1 - level) / 2, pi = 3.14159265358979323846;
    ZnInterval z;
    z.coherence = z.phase_half_width_deg = std::nan("");
    z.model = ZnModel::assumed_uncorrelated;
    if (!std::isnan(raw_coherence)) {
        const double n = pool_averages;
        z.model = n < 2 ? ZnModel::too_few_averages : ZnModel::uncorrelated;
        // The estimate's mean under no coherence is 1/n: taken off, and rescaled so that 1 stays 1.
        if (n >= 2) z.coherence = std::clamp((raw_coherence - 1 / n) / (1 - 1 / n), 0.0, 1.0);
        if (n >= 2 && std::pow(1 - raw_coherence, n - 1) < coherence_test_level)
            z.model = ZnModel::coherent;
    }
    if (z.model != ZnModel::coherent) {
        z.dof = 2 * averages;
        z.low = estimate / std::sqrt(q.fisher_f(z.dof, 1 - tail));
        z.high = estimate / std::sqrt(q.fisher_f(z.dof, tail));
        // Both ends or neither: a level too close to 1 leaves one of them undefined.
        if (!(z.low > 0 && std::isfinite(z.low) && std::isfinite(z.high)))
            z.low = z.high = std::nan("");
        return z;
    }
    // 1 - g estimated without its bias (its mean is (1 - g)(n - 1)/n near g = 1), over 2 n of
    // the estimate's own averages; the t law's degrees of freedom are those of the estimate's
    // own scatter or of the residual's, whichever are fewer.
    const double n = pool_averages;
    const double residual = (1 - raw_coherence) * n / (n - 1);
    z.dof = 2 * std::min(averages, n - 1);
    const double half = q.students_t(z.dof, 1 - tail) * std::sqrt(residual / (2 * averages));
    z.low = estimate * std::exp(-half);
    z.high = estimate * std::exp(half);
    // The phase's error is the imaginary part of the same relative error, over |gamma|.
    const double phase = half / std::sqrt(std::max(z.coherence, 1e-300));
    z.phase_half_width_deg = std::min(phase, pi) * 180 / pi;
    return z;
}

bool partly_coherent(const ZnInterval& interval) {
    return interval.coherence > 0.1 && interval.coherence < 0.9;
}

}  // namespace psd
