#include "summary/bin_figures.h"

#include <algorithm>
#include <cmath>

namespace psd {

namespace {

constexpr double pi = 3.14159265358979323846;
// The section-bins a bin's neighbourhood holds at least, for its coherence.
constexpr double pool_section_bins = 16;

// The interval of a bin's own coherence over averages averages, by Fisher's z: atanh |gamma| is
// nearly normal, its mean atanh |gamma| + 1 / (2 (n - 1)) and its variance 1 / (2 (n - 1))
// (Bendat & Piersol, Random Data, ch. 9). NaN with fewer than 2 averages.
void coherence_interval(double averages, double z_quantile, BinFigures* b) {
    const double nan = std::nan("");
    b->coherence_low = b->coherence_high = nan;
    if (!(averages >= 2) || std::isnan(b->coherence)) return;
    const double z = std::atanh(std::sqrt(b->coherence)) - 1 / (2 * (averages - 1));
    const double spread = z_quantile / std::sqrt(2 * (averages - 1));
    const double low = std::max(0.0, z - spread), high = std::max(0.0, z + spread);
    b->coherence_low = std::tanh(low) * std::tanh(low);
    b->coherence_high = std::tanh(high) * std::tanh(high);
}

// The neighbourhood [lo, hi] of bin k among bins 1 .. top, width bins wide, kept within them.
void neighbourhood(std::size_t k, std::size_t width, std::size_t top, std::size_t* lo,
                   std::size_t* hi) {
    const std::size_t half = width / 2;
    *lo = k > half ? k - half : 1;
    *hi = std::min(top, *lo + width - 1);
    *lo = *hi + 1 > width ? *hi + 1 - width : 1;
}

// The Zn interval of one bin; NaN for a bin whose Zn is not a positive finite number.
ZnInterval bin_zn_interval(double zn, double averages, double pool_coherence, double pool_averages,
                           double level, QuantileCache* quantiles) {
    if (zn > 0 && std::isfinite(zn))
        return zn_interval(zn, averages, pool_coherence, pool_averages, level, quantiles);
    const double nan = std::nan("");
    return ZnInterval{nan, nan, ZnModel::assumed_uncorrelated, nan, nan, nan};
}

}  // namespace

void CrossSums::add(const CrossSpectrum& cross, std::size_t k, double sign) {
    vv += sign * cross.sum_vv()[k];
    ii += sign * cross.sum_ii()[k];
    re += sign * cross.sum_vi_re()[k];
    im += sign * cross.sum_vi_im()[k];
}

double CrossSums::coherence() const {
    return (re * re + im * im) / (vv * ii);
}

double CrossSums::phase_deg() const {
    return std::atan2(im, re) * 180 / pi;
}

ZnInterval band_zn_interval(double estimate, const std::vector<std::size_t>& bins,
                            const BinCovariance& cov, std::int64_t sections,
                            const CrossSpectrum* cross, double level, double* phase_deg) {
    const double averages = cov.band_averages(bins) * static_cast<double>(sections);
    double coherence = std::nan(""), phase = std::nan("");
    if (cross) {
        // The spectra summed over the bins before the coherence is formed: with M = 1 every
        // bin's own coherence is 1.
        CrossSums sums;
        for (std::size_t k : bins)
            sums.add(*cross, k, 1);
        coherence = sums.coherence();
        phase = sums.phase_deg();
    }
    if (phase_deg) *phase_deg = phase;
    return zn_interval(estimate, averages, coherence, averages, level);
}

std::vector<BinFigures> bin_figures(const ReportData& report, const BinCovariance& cov,
                                    const CrossSpectrum* cross, double level) {
    const std::size_t top = report.frequency.size();
    const double m = report.header.nb_section, tail = (1 - level) / 2, nan = std::nan("");
    const std::size_t width = std::min<std::size_t>(
        top,
        2 * static_cast<std::size_t>(std::ceil(std::max(0.0, (pool_section_bins / m - 1) / 2))) +
            1);
    QuantileCache quantiles;
    const double z_quantile = std::sqrt(chi_squared_quantile(1, level));
    // Pools away from both ends all have the interior's count of averages.
    const std::size_t margin = cov.reach() + 8;
    double interior_averages = nan;
    std::vector<BinFigures> bins(top);
    CrossSums pool;
    std::size_t pool_lo = 1, pool_hi = 0;  // the bins pool holds
    for (std::size_t k = 1; k <= top; ++k) {
        BinFigures& b = bins[k - 1];
        b.kind = cov.kind(k);
        b.averages = m * cov.band_averages({k});
        const double dof = 2 * b.averages;
        const bool biased = b.kind == BinKind::biased;
        b.density_low = biased ? nan : dof / quantiles.chi_squared(dof, 1 - tail);
        b.density_high = biased ? nan : dof / quantiles.chi_squared(dof, tail);
        std::size_t lo = 0, hi = 0;
        neighbourhood(k, width, top, &lo, &hi);
        const bool interior = lo > margin && hi + margin < top;
        double pool_averages = interior && !std::isnan(interior_averages) ? interior_averages : nan;
        if (std::isnan(pool_averages)) {
            std::vector<std::size_t> members;
            for (std::size_t j = lo; j <= hi; ++j)
                members.push_back(j);
            pool_averages = m * cov.band_averages(members);
            if (interior) interior_averages = pool_averages;
        }
        double pool_coherence = nan;
        b.coherence = b.phase_deg = nan;
        if (cross) {
            for (; pool_hi < hi; ++pool_hi)
                pool.add(*cross, pool_hi + 1, 1);
            for (; pool_lo < lo; ++pool_lo)
                pool.add(*cross, pool_lo, -1);
            pool_coherence = pool.coherence();
            CrossSums own;
            own.add(*cross, k, 1);
            b.coherence = own.coherence();
            b.phase_deg = own.phase_deg();
            coherence_interval(b.averages, z_quantile, &b);
        }
        b.zn = biased ? ZnInterval{nan, nan, ZnModel::assumed_uncorrelated, nan, nan, nan}
                      : bin_zn_interval(report.zn[k - 1], b.averages, pool_coherence, pool_averages,
                                        level, &quantiles);
    }
    return bins;
}

}  // namespace psd
