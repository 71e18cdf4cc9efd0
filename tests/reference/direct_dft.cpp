#include "reference/direct_dft.h"

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

}  // namespace psd::reference
