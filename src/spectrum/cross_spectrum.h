// The cross-spectral estimate psd-summary forms from a report's own sample file: the same sections,
// the same trend removal and the same window as the report, but every bin 0 .. N/2 kept (the
// report leaves bin 0 out), the cross-spectrum of voltage and current kept besides their two
// spectra, and every sum in double. From these sums come the coherence and the phase of the
// noise impedance, the zero-frequency bin that Parseval's check needs, and the windowed sums of
// squares it compares the spectrum with.
//
// Each section goes through one step before its transform: its trend is removed (psd removes the
// mean), then the window is applied. The trend is the one replaceable part of that step, chosen
// by Detrend, so that another trend (a fitted line or parabola) changes nothing else here.
#pragma once

#include <cstdint>
#include <vector>

#include "spectrum/estimator.h"

namespace psd {

// The Hann weights of every psd report: (1 - cos(6.283185307 j / (N - 1))) / 2 for j = 0 .. N-1,
// with psd's correctly rounded cosine, bit for bit the weights the estimator applies.
// REQUIRES: 2 <= n <= 2^30.
std::vector<double> hann_weights(std::uint32_t n);

// The window's weights, or an empty vector for no window.
std::vector<double> window_weights(Window window, std::uint32_t n);

// What each section loses before the window: its mean, as psd removes it, or the least-squares
// line or parabola over the sample index (drift removal, Bertocci et al., Corrosion 58 (2002) 337).
enum class Detrend { mean, linear, quadratic };

// A section's fitted polynomial on the orthogonal basis of its sample index j = 0 .. n-1:
// p0 = 1, p1 = x, p2 = x^2 - (n^2 - 1)/12 with x = j - (n - 1)/2 (discrete Gram polynomials:
// orthogonal over the section, so each coefficient is fitted alone and none loses digits to the
// others). Coefficients above the degree asked for are 0.
struct SectionTrend {
    double mean = 0;       // coefficient of p0
    double linear = 0;     // of p1: the slope per sample
    double quadratic = 0;  // of p2
};

// p1 and p2 of sample j of an n-sample section. Inline, as they are worked out for every sample.
inline double trend_p1(double j, std::uint32_t n) {
    return j - (static_cast<double>(n) - 1) / 2;
}
inline double trend_p2(double j, std::uint32_t n) {
    const double x = trend_p1(j, n), nd = static_cast<double>(n);
    return x * x - (nd * nd - 1) / 12;
}

// The least-squares polynomial of the degree detrend names through section[0..n). The mean is
// the sum taken in index order divided by n, as the estimator does; the other coefficients are
// sum (x_j - mean) p_j / sum p_j^2 (0 where p_j is 0 throughout, as p2 of two samples).
// REQUIRES: n >= 1.
SectionTrend fit_trend(Detrend detrend, const double* section, std::uint32_t n);

// Sample j's value less the trend: (x - mean) - linear p1 - quadratic p2, rounded in that order
// (the mean alone rounds as the estimator's subtraction: the zero terms change no bit).
inline double detrended(const SectionTrend& trend, double x, std::uint32_t j, std::uint32_t n) {
    return (x - trend.mean) - trend.linear * trend_p1(j, n) - trend.quadratic * trend_p2(j, n);
}

// The trend's value at sample j (j may be fractional).
inline double trend_value(const SectionTrend& trend, double j, std::uint32_t n) {
    return trend.mean + trend.linear * trend_p1(j, n) + trend.quadratic * trend_p2(j, n);
}

// Removes the fitted trend of section[0..n) in place and returns it. REQUIRES: n >= 1.
SectionTrend remove_trend(Detrend detrend, double* section, std::uint32_t n);

// The basis the trend of degree detrend is fitted on, each vector of n values scaled to unit
// length: 1/sqrt(n) for the mean, then p1 and p2 normalised (a p2 of zeros left out).
std::vector<std::vector<double>> trend_basis(Detrend detrend, std::uint32_t n);

// The per-bin sums over sections of |V_k|^2, |I_k|^2 and V_k conj(I_k) for k = 0 .. N/2, where
// V_k = sum_j v_j exp(-2 pi i j k / N) is the usual transform of one prepared section (trend
// removed, window applied); and the sums of the prepared samples' squares.
class CrossSpectrum {
  public:
    // Owns the window, two section buffers and the sums. Throws std::bad_alloc when they cannot
    // be allocated. REQUIRES: n a power of two, 2 <= n <= 2^30.
    CrossSpectrum(Window window, std::uint32_t n, Detrend detrend = Detrend::mean);

    // Adds one section of each record (N samples each; not modified).
    void add_section(const double* section_v, const double* section_i);
    // The same, with each section's trend already fitted by whoever read it, so that no section
    // is fitted twice. REQUIRES: trend_v and trend_i bit for bit fit_trend(detrend, section, N)
    // of this spectrum's detrend: their terms above its degree +0.
    void add_section(const double* section_v, const double* section_i, const SectionTrend& trend_v,
                     const SectionTrend& trend_i);

    std::int64_t sections() const { return sections_; }
    std::uint32_t n() const { return n_; }
    Window window() const { return window_; }
    const std::vector<double>& weights() const { return weights_; }  // empty without a window

    // Sums over sections, bins 0 .. N/2.
    const std::vector<double>& sum_vv() const { return sum_vv_; }
    const std::vector<double>& sum_ii() const { return sum_ii_; }
    const std::vector<double>& sum_vi_re() const { return sum_vi_re_; }
    const std::vector<double>& sum_vi_im() const { return sum_vi_im_; }

    // Sums over sections and samples of the prepared samples' squares, sum (w_j (x_j - trend))^2:
    // N times the mean square of the prepared section, which Parseval's theorem equates with the
    // bins' sum of |X_k|^2 over the whole circle divided by N.
    double prepared_squares_v() const { return squares_v_; }
    double prepared_squares_i() const { return squares_i_; }

  private:
    void prepare(double* section, const SectionTrend& trend) const;

    Window window_;
    std::uint32_t n_;
    Detrend detrend_;
    std::int64_t sections_ = 0;
    std::vector<double> weights_;
    std::vector<double> work_v_, work_i_;
    std::vector<double> sum_vv_, sum_ii_, sum_vi_re_, sum_vi_im_;
    double squares_v_ = 0, squares_i_ = 0;
};

}  // namespace psd
