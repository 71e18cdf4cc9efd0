#include "spectrum/estimator.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "fft/fft_pair.h"
#include "trig/exact_trig.h"

namespace {

// Adds the squared magnitudes of one transformed section to psd[0..N/2]. The packed spectrum is
// first rounded to floats in the unpacked layout (real part of bin k at 2k, imaginary part at
// 2k + 1): the squares are taken of those float values, not of the doubles, because stored
// reports carry that rounding.
void accumulate_section(const double* section, std::int32_t n, float* spectrum, float* psd) {
    spectrum[0] = static_cast<float>(section[0]);
    spectrum[1] = 0.0f;
    spectrum[n] = static_cast<float>(section[1]);
    spectrum[n + 1] = 0.0f;
    // drealft's kernel is exp(+2 pi i j k / N); negating the imaginary parts gives the usual
    // exp(-...) spectrum. The magnitudes do not care, but the buffer then holds the usual spectrum.
    for (std::int32_t j = 2; j < n; j += 2) {
        spectrum[j] = static_cast<float>(section[j]);
        spectrum[j + 1] = static_cast<float>(-section[j + 1]);
    }
    const std::int32_t half = n / 2;
    for (std::int32_t k = 0; k <= half; ++k) {
        const double re = spectrum[2 * k];
        const double im = spectrum[2 * k + 1];
        psd[k] = static_cast<float>((re * re + im * im) + static_cast<double>(psd[k]));
    }
}

}  // namespace

void start_psd(std::int32_t hanning, std::int32_t nbpoint_section, double* window, float* psd_v,
               float* psd_i) {
    const std::int32_t n = nbpoint_section;
    for (std::int32_t k = 0; k <= n / 2; ++k) {
        psd_v[k] = 0.0f;
        psd_i[k] = 0.0f;
    }
    // Ten significant digits of 2 pi and a denominator of N - 1, so the weight is 0 at both ends
    // of the section; reports made with this window depend on both choices. The weights are the
    // same for every section, so they are worked out once (the very values, bit for bit, that a
    // cosine per sample and section would give) instead of N cosines per section.
    if (hanning == 1) {
        const double window_step = 6.283185307 / static_cast<double>(n - 1);
        for (std::int32_t j = 0; j < n; ++j) {
            const double angle = window_step * static_cast<double>(j);
            window[j] = (1.0 - exact_cos(angle)) / 2.0;
        }
    }
}

void add_section(std::int32_t hanning, std::int32_t nbpoint_section, const double* window,
                 double* section_v, double* section_i, float* spectrum, float* psd_v,
                 float* psd_i) {
    const std::int32_t n = nbpoint_section;
    const double n_double = static_cast<double>(n);
    double sum_v = 0.0;
    double sum_i = 0.0;
    for (std::int32_t j = 0; j < n; ++j) {
        sum_v += section_v[j];
        sum_i += section_i[j];
    }
    const double mean_v = sum_v / n_double;
    const double mean_i = sum_i / n_double;
    // Mean removal and window in one pass: each value is still rounded after the subtraction
    // and again after the multiplication.
    if (hanning == 1) {
        for (std::int32_t j = 0; j < n; ++j) {
            section_v[j] = (section_v[j] - mean_v) * window[j];
            section_i[j] = (section_i[j] - mean_i) * window[j];
        }
    } else {
        for (std::int32_t j = 0; j < n; ++j) {
            section_v[j] -= mean_v;
            section_i[j] -= mean_i;
        }
    }

    // Both records through drealft at once, in lock-step: the same results bit for bit as one
    // drealft call each, with the index and twiddle work done once.
    drealft_pair(section_v, section_i, static_cast<std::uint32_t>(n));
    accumulate_section(section_v, n, spectrum, psd_v);
    accumulate_section(section_i, n, spectrum, psd_i);
}

void finish_psd(std::int32_t hanning, std::int32_t nb_section, std::int32_t nbpoint_section,
                float deltat, float* psd_v, float* psd_i) {
    const std::int32_t n = nbpoint_section;
    float psd_scale = static_cast<float>(
        (static_cast<double>(deltat) + static_cast<double>(deltat)) / static_cast<double>(n));
    if (hanning == 1) {
        // The Hann window keeps 3/8 of a white signal's power; 8/3 is written as the double it
        // rounds to so that the product is rounded exactly as in earlier reports.
        psd_scale = static_cast<float>(static_cast<double>(psd_scale) * 2.6666666666666665);
    }
    // The factor 2 of a one-sided density applies to every bin, the zero-frequency and Nyquist
    // bins included, as in the reports this tool has always written.
    const double bin_scale = static_cast<double>(psd_scale) / static_cast<double>(nb_section);
    for (std::int32_t k = 0; k <= n / 2; ++k) {
        psd_v[k] = static_cast<float>(static_cast<double>(psd_v[k]) * bin_scale);
        psd_i[k] = static_cast<float>(static_cast<double>(psd_i[k]) * bin_scale);
    }
}

void estimate_psd(std::int32_t hanning, std::int32_t nb_section, std::int32_t nbpoint_section,
                  const float* voltage, const float* current, float deltat, double* section_v,
                  double* section_i, float* spectrum, float* psd_v, float* psd_i) {
    const std::int32_t n = nbpoint_section;
    std::vector<double> window(hanning == 1 ? static_cast<std::size_t>(n) : 0);
    start_psd(hanning, n, window.data(), psd_v, psd_i);
    for (std::int32_t s = 0; s < nb_section; ++s) {
        const std::size_t first = static_cast<std::size_t>(s) * static_cast<std::size_t>(n);
        for (std::int32_t j = 0; j < n; ++j) {
            section_v[j] = static_cast<double>(voltage[first + static_cast<std::size_t>(j)]);
            section_i[j] = static_cast<double>(current[first + static_cast<std::size_t>(j)]);
        }
        add_section(hanning, n, window.data(), section_v, section_i, spectrum, psd_v, psd_i);
    }
    finish_psd(hanning, nb_section, n, deltat, psd_v, psd_i);
}
