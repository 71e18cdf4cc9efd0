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

}  // namespace psd::reference
