#include "spectrum/cross_spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "fft/fft_pair.h"
#include "trig/exact_trig.h"

namespace psd {

// Ten significant digits of 2 pi and a denominator of N - 1, so the weight is 0 at both ends of
// the section; reports made with this window depend on both choices. The weights are the same for
// every section, so they are worked out once (the very values, bit for bit, that a cosine per
// sample and section would give) instead of N cosines per section.
std::vector<double> hann_weights(std::uint32_t n) {
    std::vector<double> weights(n);
    const double window_step = 6.283185307 / static_cast<double>(n - 1);
    for (std::uint32_t j = 0; j < n; ++j) {
        const double angle = window_step * static_cast<double>(j);
        weights[j] = (1.0 - exact_cos(angle)) / 2.0;
    }
    return weights;
}

std::vector<double> window_weights(Window window, std::uint32_t n) {
    return window == Window::hann ? hann_weights(n) : std::vector<double>();
}

namespace {

// sum p1^2 = n (n^2 - 1) / 12 and sum p2^2 = n (n^2 - 1)(n^2 - 4) / 180 over an n-sample section.
double p1_norm(std::uint32_t n) {
    const double nd = static_cast<double>(n);
    return nd * (nd * nd - 1) / 12;
}

double p2_norm(std::uint32_t n) {
    const double nd = static_cast<double>(n);
    return nd * (nd * nd - 1) * (nd * nd - 4) / 180;
}

}  // namespace

SectionTrend fit_trend(Detrend detrend, const double* section, std::uint32_t n) {
    SectionTrend t;
    double sum = 0;
    for (std::uint32_t j = 0; j < n; ++j)
        sum += section[j];
    t.mean = sum / static_cast<double>(n);
    if (detrend == Detrend::mean) return t;
    // Both from the mean's residual: p1 and p2 are orthogonal to it and to each other.
    double on_p1 = 0, on_p2 = 0;
    if (detrend == Detrend::linear) {
        for (std::uint32_t j = 0; j < n; ++j)
            on_p1 += (section[j] - t.mean) * trend_p1(j, n);
    } else {
        for (std::uint32_t j = 0; j < n; ++j) {
            const double r = section[j] - t.mean;
            on_p1 += r * trend_p1(j, n);
            on_p2 += r * trend_p2(j, n);
        }
    }
    const double norm1 = p1_norm(n), norm2 = p2_norm(n);
    t.linear = norm1 > 0 ? on_p1 / norm1 : 0;
    t.quadratic = norm2 > 0 ? on_p2 / norm2 : 0;
    return t;
}

SectionTrend remove_trend(Detrend detrend, double* section, std::uint32_t n) {
    const SectionTrend trend = fit_trend(detrend, section, n);
    for (std::uint32_t j = 0; j < n; ++j)
        section[j] = detrended(trend, section[j], j, n);
    return trend;
}

std::vector<std::vector<double>> trend_basis(Detrend detrend, std::uint32_t n) {
    std::vector<std::vector<double>> basis(1, std::vector<double>(n, 1 / std::sqrt(double(n))));
    const int degree = detrend == Detrend::mean ? 0 : detrend == Detrend::linear ? 1 : 2;
    for (int d = 1; d <= degree; ++d) {
        const double norm = d == 1 ? p1_norm(n) : p2_norm(n);
        if (!(norm > 0)) continue;
        std::vector<double> p(n);
        for (std::uint32_t j = 0; j < n; ++j)
            p[j] = (d == 1 ? trend_p1(j, n) : trend_p2(j, n)) / std::sqrt(norm);
        basis.push_back(std::move(p));
    }
    return basis;
}

CrossSpectrum::CrossSpectrum(Window window, std::uint32_t n, Detrend detrend)
    : window_(window),
      n_(n),
      detrend_(detrend),
      weights_(window_weights(window, n)),
      work_v_(n),
      work_i_(n),
      sum_vv_(n / 2 + 1, 0.0),
      sum_ii_(n / 2 + 1, 0.0),
      sum_vi_re_(n / 2 + 1, 0.0),
      sum_vi_im_(n / 2 + 1, 0.0) {}

// The section's trend removed, then the window applied: the one step every section goes through.
// The trend is removed as remove_trend removes it, sample by sample in index order.
void CrossSpectrum::prepare(double* section, const SectionTrend& trend) const {
    for (std::uint32_t j = 0; j < n_; ++j)
        section[j] = detrended(trend, section[j], j, n_);
    if (weights_.empty()) return;
    for (std::uint32_t j = 0; j < n_; ++j)
        section[j] *= weights_[j];
}

namespace {

double sum_of_squares(const std::vector<double>& values) {
    double sum = 0;
    for (double x : values)
        sum += x * x;
    return sum;
}

}  // namespace

void CrossSpectrum::add_section(const double* section_v, const double* section_i) {
    add_section(section_v, section_i, fit_trend(detrend_, section_v, n_),
                fit_trend(detrend_, section_i, n_));
}

void CrossSpectrum::add_section(const double* section_v, const double* section_i,
                                const SectionTrend& trend_v, const SectionTrend& trend_i) {
    std::copy(section_v, section_v + n_, work_v_.begin());
    std::copy(section_i, section_i + n_, work_i_.begin());
    prepare(work_v_.data(), trend_v);
    prepare(work_i_.data(), trend_i);
    squares_v_ += sum_of_squares(work_v_);
    squares_i_ += sum_of_squares(work_i_);
    drealft_pair(work_v_.data(), work_i_.data(), n_);
    const double* v = work_v_.data();
    const double* i = work_i_.data();
    const std::uint32_t half = n_ / 2;
    // Packed layout: element 1 holds X[0], element 2 X[N/2] (both real), then the real and
    // imaginary parts of X[k]. drealft's kernel is exp(+2 pi i j k / N): the usual transform is
    // its conjugate, so V_k conj(I_k) = (a_v - i b_v)(a_i + i b_i).
    sum_vv_[0] += v[0] * v[0];
    sum_ii_[0] += i[0] * i[0];
    sum_vi_re_[0] += v[0] * i[0];
    sum_vv_[half] += v[1] * v[1];
    sum_ii_[half] += i[1] * i[1];
    sum_vi_re_[half] += v[1] * i[1];
    for (std::size_t k = 1; k < half; ++k) {
        const double av = v[2 * k], bv = v[2 * k + 1], ai = i[2 * k], bi = i[2 * k + 1];
        sum_vv_[k] += av * av + bv * bv;
        sum_ii_[k] += ai * ai + bi * bi;
        sum_vi_re_[k] += av * ai + bv * bi;
        sum_vi_im_[k] += av * bi - bv * ai;
    }
    ++sections_;
}

}  // namespace psd
