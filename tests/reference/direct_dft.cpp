#include "reference/direct_dft.h"

#include <algorithm>
#include <cmath>

namespace psd::reference {

DirectDft::DirectDft(std::uint32_t n) : n_(n), roots_(n) {
    const long double pi = 3.141592653589793238462643383279502884L;
    for (std::uint32_t m = 0; m < n; ++m)
        roots_[m] = std::polar(1.0L, 2 * pi * m / n);
}

LComplex DirectDft::bin(const std::vector<LComplex>& x, std::uint32_t k, int sign) const {
    LComplex sum = 0;
    for (std::uint32_t p = 0; p < n_; ++p) {
        const LComplex root = roots_[(std::uint64_t{p} * k) % n_];
        sum += x[p] * (sign > 0 ? root : std::conj(root));
    }
    return sum;
}

long double window_weight(std::int32_t j, std::int32_t n, bool hann) {
    return hann ? (1.0L - std::cos(6.283185307L * j / (n - 1))) / 2.0L : 1.0L;
}

std::vector<long double> direct_density(const float* record, std::int32_t n, std::int32_t m,
                                        bool hann, float deltat, long double* unscaled_max) {
    const DirectDft dft(static_cast<std::uint32_t>(n));
    std::vector<long double> density(static_cast<std::size_t>(n / 2 + 1), 0.0L);
    std::vector<LComplex> x(static_cast<std::size_t>(n));
    for (std::int32_t s = 0; s < m; ++s) {
        const float* const section = record + static_cast<std::ptrdiff_t>(s) * n;
        long double mean = 0.0L;
        for (std::int32_t j = 0; j < n; ++j)
            mean += section[j];
        mean /= n;
        for (std::int32_t j = 0; j < n; ++j) {
            x[static_cast<std::size_t>(j)] = (section[j] - mean) * window_weight(j, n, hann);
        }
        for (std::int32_t k = 0; k <= n / 2; ++k)
            density[static_cast<std::size_t>(k)] +=
                std::norm(dft.bin(x, static_cast<std::uint32_t>(k), -1));
    }
    if (unscaled_max) *unscaled_max = *std::max_element(density.begin(), density.end());
    const long double scale =
        2.0L * deltat / (static_cast<long double>(n) * m) * (hann ? 8.0L / 3.0L : 1.0L);
    for (long double& d : density)
        d *= scale;
    return density;
}

}  // namespace psd::reference
