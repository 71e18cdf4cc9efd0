// How a report's window and each section's trend removal tie its bins together. For white noise
// of unit variance, the transform X_k of one prepared section (trend removed, window applied) has
// covariances s(k, l) = E[X_k conj(X_l)] and t(k, l) = E[X_k X_l] that follow from the window's
// weights and the trend removed: with the trend's orthonormal basis q_m (the mean's 1/sqrt(N), and
// the fitted line's and parabola's), s(k, l) = W2(k - l) - sum_m Q_m(k) conj(Q_m(l)) and
// t(k, l) = W2(k + l) - sum_m Q_m(k) Q_m(l), where W2 and Q_m are the transforms of w^2 and of
// w q_m (for the mean alone W(k) conj(W(l)) / N, W that of w). From them:
// how far a bin's expected power falls below the others' (bin 1 with the Hann window: 5/6, the
// section mean being removed before the window), how many complex averages a bin or a band's mean
// is worth (1 per section for a bin far from both ends, 1/2 for the real-valued Nyquist bin; a
// band of correlated Hann bins counts less than its bins, Welch 1967), and the correlation of the
// periodograms of neighbouring bins (|s|^2 + |t|^2 over the product of their powers: 4/9 for the
// next Hann bin, 1/36 for the one after; Percival & Walden 1993, ch. 6).
//
// Nothing here assumes a particular window: everything is computed from the weights, so that any
// window and any trend removal get their own figures.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "spectrum/cross_spectrum.h"

namespace psd {

// What sets a bin apart from the others, for the figures that treat bins alike.
enum class BinKind {
    regular,    // the expected power and the degrees of freedom of every bin far from both ends
    biased,     // its expected power is off by more than 1 % (bin 1 with the Hann window)
    fewer_dof,  // fewer than 0.9 complex averages per section (the real-valued Nyquist bin)
};

class BinCovariance {
  public:
    // The covariances of N-point sections prepared with these weights (empty: no window) after
    // their trend is removed (weights all zero count as no window). Throws std::bad_alloc when its
    // tables cannot be allocated.
    // REQUIRES: n a power of two, 2 <= n <= 2^30; weights empty or of n values.
    BinCovariance(const std::vector<double>& weights, std::uint32_t n,
                  Detrend detrend = Detrend::mean);

    std::uint32_t n() const { return n_; }

    // E[X_k conj(X_l)] and E[X_k X_l], bins 0 .. N/2.
    std::complex<double> s(std::size_t k, std::size_t l) const;
    std::complex<double> t(std::size_t k, std::size_t l) const;

    // The largest lag at which two bins far from both ends still correlate (their periodograms'
    // correlation at least 1e-6): 0 without a window, 2 or 3 with the Hann window.
    std::size_t reach() const { return reach_; }

    // Bin k's expected power over that of a bin far from both ends.
    double relative_power(std::size_t k) const;

    // The correlation of the periodograms of bins k and l, (|s|^2 + |t|^2) / (s(k,k) s(l,l)).
    double power_correlation(std::size_t k, std::size_t l) const;

    // The complex averages one section gives the mean of the bins (sorted bin numbers, none 0):
    // (sum of s(k,k))^2 / sum over pairs within reach() of |s|^2 + |t|^2, Satterthwaite's
    // equivalent count. 1 for one regular bin, 1/2 for the Nyquist bin. REQUIRES: bins not empty.
    double band_averages(const std::vector<std::size_t>& bins) const;

    BinKind kind(std::size_t k) const;

  private:
    std::uint32_t n_;
    double mean_power_ = 0;                 // W2(0), the power of a bin far from both ends
    std::vector<std::complex<double>> w2_;  // W2(d), d = 0 .. N/2
    // Q_m(k), k = 0 .. N/2, for each basis vector of the trend (W(k) / sqrt(N) for the mean).
    std::vector<std::vector<std::complex<double>>> trend_;
    std::size_t reach_ = 0;

    std::complex<double> w2(std::int64_t d) const;
    // sum_m Q_m(k) conj(Q_m(l)), or sum_m Q_m(k) Q_m(l) when conjugate is false.
    std::complex<double> trend_product(std::size_t k, std::size_t l, bool conjugate) const;
};

}  // namespace psd
