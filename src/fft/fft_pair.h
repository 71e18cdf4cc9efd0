// Two transforms of the same length run in lock-step: the voltage and the current section of an
// analysis go through the same index sequence and the same twiddle factors, so one pass over both
// does the index and twiddle work once and lets the two share each arithmetic instruction (the
// two lanes of one SSE2 register on x86-64, a plain loop elsewhere).
//
// The results are bit for bit those of dfour1 and drealft on each array alone: every lane performs
// exactly their operations, in their order, with their roundings, and takes its twiddle factors
// from the same recurrence. Only where a NaN arises (from infinities or NaNs in the input, never
// from finite samples of a record) may its sign or payload differ, as those follow the operand
// order a compiler picks for the plain routines; it is a NaN in the same elements. Numbering from 1
// and layouts are those of fft.h; callers pass the arrays themselves. Like the plain routines these
// allocate nothing, keep no state and validate nothing; while they run, the arrays hold an internal
// layout, so neither may be read before they return.
#pragma once

#include <cstdint>

namespace psd {

// dfour1(a, ncomplex, sign) and dfour1(b, ncomplex, sign) in one pass, with the same results.
// REQUIRES: as dfour1 for each array; a and b hold 2*ncomplex doubles each and do not overlap.
void dfour1_pair(double* a, double* b, std::uint32_t ncomplex, std::int32_t sign);

// drealft(a, n, 1) and drealft(b, n, 1) in one pass, with the same results: n samples in each,
// the packed spectrum of each out. Forward only, as the analysis needs.
// REQUIRES: n a power of two, 2 <= n <= 2^31; a and b hold n doubles each and do not overlap.
void drealft_pair(double* a, double* b, std::uint32_t n);

}  // namespace psd
