#include "spectrum/estimator.h"

#include <cstddef>

#include "fft/fft_pair.h"
#include "spectrum/cross_spectrum.h"

namespace psd {

namespace {

// Adds the squared magnitudes of one transformed section to psd[0..N/2]. The packed spectrum is
// first rounded to floats in the unpacked layout (real part of bin k at 2k, imaginary part at
// 2k + 1): the squares are taken of those float values, not of the doubles, because stored
// reports carry that rounding.
void accumulate_section(const double* section, std::uint32_t n, float* spectrum, float* psd) {
    // Indices in std::size_t: a 32-bit unsigned index may wrap, which keeps the compiler from
    // turning these loops into vector code.
    const std::size_t size = n;
    spectrum[0] = static_cast<float>(section[0]);
    spectrum[1] = 0.0f;
    spectrum[size] = static_cast<float>(section[1]);
    spectrum[size + 1] = 0.0f;
    // drealft's kernel is exp(+2 pi i j k / N); negating the imaginary parts gives the usual
    // exp(-...) spectrum. The magnitudes do not care, but the buffer then holds the usual spectrum.
    for (std::size_t j = 2; j < size; j += 2) {
        spectrum[j] = static_cast<float>(section[j]);
        spectrum[j + 1] = static_cast<float>(-section[j + 1]);
    }
    const std::size_t half = size / 2;
    for (std::size_t k = 0; k <= half; ++k) {
        const double re = spectrum[2 * k];
        const double im = spectrum[2 * k + 1];
        psd[k] = static_cast<float>((re * re + im * im) + static_cast<double>(psd[k]));
    }
}

}  // namespace

Estimator::Estimator(Window window, std::uint32_t n)
    : window_(window),
      n_(n),
      weights_(window_weights(window, n)),
      spectrum_(std::size_t{n} + 2),
      sum_v_(n / 2 + 1, 0.0f),
      sum_i_(n / 2 + 1, 0.0f) {}

void Estimator::add_section(double* section_v, double* section_i) {
    transform_section(section_v, section_i);
    add_transformed(section_v, section_i);
}

void Estimator::transform_section(double* section_v, double* section_i) const {
    const std::uint32_t n = n_;
    const double n_double = static_cast<double>(n);
    double sum_v = 0.0;
    double sum_i = 0.0;
    for (std::uint32_t j = 0; j < n; ++j) {
        sum_v += section_v[j];
        sum_i += section_i[j];
    }
    const double mean_v = sum_v / n_double;
    const double mean_i = sum_i / n_double;
    // Mean removal and window in one pass: each value is still rounded after the subtraction
    // and again after the multiplication.
    if (window_ == Window::hann) {
        const double* const window = weights_.data();
        for (std::uint32_t j = 0; j < n; ++j) {
            section_v[j] = (section_v[j] - mean_v) * window[j];
            section_i[j] = (section_i[j] - mean_i) * window[j];
        }
    } else {
        for (std::uint32_t j = 0; j < n; ++j) {
            section_v[j] -= mean_v;
            section_i[j] -= mean_i;
        }
    }

    // Both records through drealft at once, in lock-step: the same results bit for bit as one
    // drealft call each, with the index and twiddle work done once.
    drealft_pair(section_v, section_i, n);
}

void Estimator::add_transformed(const double* spectrum_v, const double* spectrum_i) {
    accumulate_section(spectrum_v, n_, spectrum_.data(), sum_v_.data());
    accumulate_section(spectrum_i, n_, spectrum_.data(), sum_i_.data());
    ++sections_;
}

float Estimator::density_scale(Window window, std::uint32_t n, float deltat) {
    float psd_scale = static_cast<float>(
        (static_cast<double>(deltat) + static_cast<double>(deltat)) / static_cast<double>(n));
    if (window == Window::hann) {
        // The Hann window keeps 3/8 of a white signal's power; 8/3 is written as the double it
        // rounds to so that the product is rounded exactly as in earlier reports.
        psd_scale = static_cast<float>(static_cast<double>(psd_scale) * 2.6666666666666665);
    }
    return psd_scale;
}

Densities Estimator::densities(float deltat) const {
    // The factor 2 of a one-sided density applies to every bin, the zero-frequency and Nyquist
    // bins included, as in the reports this tool has always written.
    const double bin_scale =
        static_cast<double>(density_scale(window_, n_, deltat)) / static_cast<double>(sections_);
    Densities result{sum_v_, sum_i_};
    for (std::size_t k = 0; k < result.psd_v.size(); ++k) {
        result.psd_v[k] = static_cast<float>(static_cast<double>(result.psd_v[k]) * bin_scale);
        result.psd_i[k] = static_cast<float>(static_cast<double>(result.psd_i[k]) * bin_scale);
    }
    return result;
}

}  // namespace psd
