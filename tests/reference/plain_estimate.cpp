#include "reference/plain_estimate.h"

#include <cstddef>

#include "fft/fft.h"
#include "trig/exact_trig.h"

namespace psd::reference {

namespace {

// One section of one record into its sums: copy, mean, window, transform, unpack, accumulate.
void add_section(std::int32_t hanning, std::int32_t n, const float* samples, float* psd) {
    std::vector<double> section(n);
    double sum = 0.0;
    for (std::int32_t j = 0; j < n; ++j) {
        section[j] = samples[j];
        sum += section[j];
    }
    for (std::int32_t j = 0; j < n; ++j) {
        section[j] = section[j] - sum / n;
        if (hanning == 1) {
            const double angle = 6.283185307 / (n - 1) * j;
            section[j] = section[j] * ((1.0 - exact_cos(angle)) / 2.0);
        }
    }
    drealft(section.data(), static_cast<std::uint32_t>(n), 1);
    std::vector<float> spectrum(n + 2, 0.0f);
    spectrum[0] = static_cast<float>(section[0]);
    spectrum[n] = static_cast<float>(section[1]);
    for (std::int32_t j = 2; j < n; ++j)
        spectrum[j] = static_cast<float>(j % 2 == 1 ? -section[j] : section[j]);
    for (std::int32_t k = 0; k <= n / 2; ++k) {
        const double re = spectrum[2 * k], im = spectrum[2 * k + 1];
        psd[k] = static_cast<float>(re * re + im * im + psd[k]);
    }
}

}  // namespace

PlainDensities plain_estimate(std::int32_t hanning, std::int32_t nb_section,
                              std::int32_t nbpoint_section, const float* voltage,
                              const float* current, float deltat) {
    const std::int32_t n = nbpoint_section;
    PlainDensities d{std::vector<float>(n / 2 + 1, 0.0f), std::vector<float>(n / 2 + 1, 0.0f)};
    for (std::int32_t s = 0; s < nb_section; ++s) {
        const std::size_t first = static_cast<std::size_t>(s) * static_cast<std::size_t>(n);
        add_section(hanning, n, voltage + first, d.psd_v.data());
        add_section(hanning, n, current + first, d.psd_i.data());
    }
    float scale = static_cast<float>((static_cast<double>(deltat) + deltat) / n);
    if (hanning == 1) scale = static_cast<float>(scale * 2.6666666666666665);
    for (std::int32_t k = 0; k <= n / 2; ++k) {
        d.psd_v[k] = static_cast<float>(d.psd_v[k] * (static_cast<double>(scale) / nb_section));
        d.psd_i[k] = static_cast<float>(d.psd_i[k] * (static_cast<double>(scale) / nb_section));
    }
    return d;
}

}  // namespace psd::reference
