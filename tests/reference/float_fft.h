// The single-precision twins of dfour1 and drealft: the same index rules, loop bounds, order of
// work and constants on arrays of 32-bit floats, with the twiddle arithmetic in double. The
// analysis never uses them; the tests hold the double forms against them to see that the
// transforms degrade gracefully in single precision, as the older program's twins did.
// Elements are numbered from 1 as in fft/fft.h; callers pass the array itself.
#pragma once

#include <cstdint>

namespace psd::reference {

// dfour1 on floats: t = w times a point is rounded to float before it meets the elements.
// REQUIRES: ncomplex a power of two; data holds 2*ncomplex floats.
void four1(float* data, std::uint32_t ncomplex, std::int32_t sign);

// drealft on floats, built on four1: the half-sums and the factors 0.5 and c are floats, the
// recombination with the double twiddle factor is rounded to float when stored.
// REQUIRES: n a power of two, at least 2; data holds n floats.
void realft(float* data, std::uint32_t n, std::int32_t sign);

}  // namespace psd::reference
