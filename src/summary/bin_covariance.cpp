#include "summary/bin_covariance.h"

#include <cmath>

#include "fft/fft.h"

namespace psd {

namespace {

// The usual transform sum_j x_j exp(-2 pi i j k / N) of x[0..N), bins 0 .. N/2.
std::vector<std::complex<double>> transform(std::vector<double> x) {
    const std::uint32_t n = static_cast<std::uint32_t>(x.size());
    drealft(x.data(), n, 1);
    std::vector<std::complex<double>> bins(n / 2 + 1);
    bins[0] = x[0];
    bins[n / 2] = x[1];
    // drealft's kernel is exp(+2 pi i j k / N): its conjugate is the usual transform.
    for (std::size_t k = 1; k < n / 2; ++k)
        bins[k] = {x[2 * k], -x[2 * k + 1]};
    return bins;
}

// The periodograms' correlation below which two bins count as independent.
constexpr double negligible_correlation = 1e-6;
// Lags looked at for the reach of a window: far beyond any usual window's main lobe.
constexpr std::size_t longest_reach = 64;

}  // namespace

BinCovariance::BinCovariance(const std::vector<double>& weights, std::uint32_t n, Detrend detrend)
    : n_(n) {
    std::vector<double> squares(n, 1.0);
    double power = 0;
    for (double w : weights)
        power += w * w;
    // A window of zeros only (Hann of two points) lets nothing through: its report holds zeros,
    // and the bins are taken as those of no window rather than divided by zero.
    const bool windowed = !weights.empty() && power > 0;
    for (std::size_t j = 0; j < n && windowed; ++j)
        squares[j] = weights[j] * weights[j];
    w2_ = transform(std::move(squares));
    // The trend is the projection on its orthonormal basis: the windowed transform of each vector.
    for (std::vector<double>& q : trend_basis(detrend, n)) {
        for (std::size_t j = 0; j < n && windowed; ++j)
            q[j] *= weights[j];
        trend_.push_back(transform(std::move(q)));
    }
    mean_power_ = w2_[0].real();
    for (std::size_t d = 1; d <= std::min<std::size_t>(longest_reach, n / 2); ++d)
        if (std::norm(w2_[d]) >= negligible_correlation * mean_power_ * mean_power_) reach_ = d;
}

std::complex<double> BinCovariance::w2(std::int64_t d) const {
    const std::int64_t n = n_;
    d %= n;
    if (d < 0) d += n;
    // w^2 is real: its transform at N - d is the conjugate of that at d.
    return d <= n / 2 ? w2_[static_cast<std::size_t>(d)]
                      : std::conj(w2_[static_cast<std::size_t>(n - d)]);
}

std::complex<double> BinCovariance::trend_product(std::size_t k, std::size_t l,
                                                  bool conjugate) const {
    std::complex<double> sum = 0;
    for (const std::vector<std::complex<double>>& q : trend_)
        sum += q[k] * (conjugate ? std::conj(q[l]) : q[l]);
    return sum;
}

std::complex<double> BinCovariance::s(std::size_t k, std::size_t l) const {
    return w2(static_cast<std::int64_t>(k) - static_cast<std::int64_t>(l)) -
           trend_product(k, l, true);
}

std::complex<double> BinCovariance::t(std::size_t k, std::size_t l) const {
    return w2(static_cast<std::int64_t>(k + l)) - trend_product(k, l, false);
}

double BinCovariance::relative_power(std::size_t k) const {
    return s(k, k).real() / mean_power_;
}

double BinCovariance::power_correlation(std::size_t k, std::size_t l) const {
    return (std::norm(s(k, l)) + std::norm(t(k, l))) / (s(k, k).real() * s(l, l).real());
}

double BinCovariance::band_averages(const std::vector<std::size_t>& bins) const {
    double power = 0, pairs = 0;
    for (std::size_t a = 0; a < bins.size(); ++a) {
        power += s(bins[a], bins[a]).real();
        pairs += std::norm(s(bins[a], bins[a])) + std::norm(t(bins[a], bins[a]));
        for (std::size_t b = a + 1; b < bins.size() && bins[b] - bins[a] <= reach_; ++b)
            pairs += 2 * (std::norm(s(bins[a], bins[b])) + std::norm(t(bins[a], bins[b])));
    }
    return power * power / pairs;
}

BinKind BinCovariance::kind(std::size_t k) const {
    if (std::fabs(relative_power(k) - 1) > 0.01) return BinKind::biased;
    return band_averages({k}) < 0.9 ? BinKind::fewer_dof : BinKind::regular;
}

}  // namespace psd
