// In-place radix-2 Fourier transforms on arrays whose elements are numbered from 1.
//
// These routines are the arithmetic core of every report: their operation order, angle constants
// and sine-only twiddle recurrence are fixed, because changing any of them changes the last bits
// of the densities written to stored reports. They allocate nothing, keep no state and validate
// nothing; callers guarantee the sizes.
//
// Element numbering: the contracts below number elements from 1, and element k is data[k - 1].
// Callers pass the array itself (the address of its first element), NOT the address one element
// before it: the numbering from 1 is an index offset inside the routines, so no caller ever forms
// a pointer outside its array.
#pragma once

#include <cstdint>

namespace psd {

// Complex transform of ncomplex interleaved points (real part of point p in element 2p+1,
// imaginary part in element 2p+2), in place, unscaled, kernel exp(sign * i * 2pi * p * k /
// ncomplex). REQUIRES: ncomplex a power of two, 1 <= ncomplex <= 2^30; data holds 2*ncomplex
// doubles.
void dfour1(double* data, std::uint32_t ncomplex, std::int32_t sign);

// Real-sequence transform of n values in place. sign == 1: samples in, packed spectrum out
// (element 1 X[0], element 2 X[n/2], elements 2k+1 and 2k+2 the real and imaginary parts of X[k],
// kernel exp(+2pi i j k / n)); any other sign: packed spectrum in, n/2 times the samples out.
// REQUIRES: n a power of two, 2 <= n <= 2^31; data holds n doubles.
void drealft(double* data, std::uint32_t n, std::int32_t sign);

}  // namespace psd
