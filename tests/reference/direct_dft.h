// The discrete Fourier transform summed term by term in long double: the independent value every
// transform and density of the product is held against.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace psd::reference {

using LComplex = std::complex<long double>;

// The unscaled DFT with kernel exp(sign 2 pi i p k / n), summed term by term in long double over
// the n-th roots of unity, tabulated once with the exponent p k reduced modulo n exactly.
class DirectDft {
  public:
    explicit DirectDft(std::uint32_t n);
    // Bin k of x[0..n).
    LComplex bin(const std::vector<LComplex>& x, std::uint32_t k, int sign) const;

  private:
    std::uint32_t n_;
    std::vector<LComplex> roots_;
};

// Hann weight j of n in long double: (1 - cos(6.283185307 j / (n - 1))) / 2; 1 without the window.
// REQUIRES: n >= 2, 0 <= j < n.
long double window_weight(std::int32_t j, std::int32_t n, bool hann);

// The one-sided density of the first m sections of n samples of record, by its definition in
// long double: each section's mean removed, the Hann weights (1 - cos(6.283185307 j / (N - 1))) / 2
// when hann, |X_k|^2 of the directly summed DFT summed over the sections, times
// 2 deltat / (N M) (and 8/3 with the window). Bins 0 .. N/2; *unscaled_max, when given, is the
// largest sum before scaling.
// REQUIRES: record holds m * n values; n >= 2, m >= 1.
std::vector<long double> direct_density(const float* record, std::int32_t n, std::int32_t m,
                                        bool hann, float deltat,
                                        long double* unscaled_max = nullptr);

}  // namespace psd::reference
