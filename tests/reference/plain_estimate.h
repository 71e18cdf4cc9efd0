// The averaged periodogram of records held whole in memory, written step by step as the older
// program computed it: the reference that the estimator (spectrum/estimator.h), which works a
// section at a time with the two records in lock-step and the window worked out once, must match
// bit for bit.
#pragma once

#include <cstdint>
#include <vector>

namespace psd::reference {

struct PlainDensities {
    std::vector<float> psd_v, psd_i;  // bins 0 .. N/2
};

// The densities of the first nb_section * N samples of voltage and current: each section copied
// to doubles, its mean removed, multiplied by the Hann weight when hanning is 1, transformed by
// drealft on its own, unpacked to floats, squared and summed; the sums scaled by
// 2 deltat / N (times 8/3 with the window) over M.
// REQUIRES: N a power of two, at least 2; M >= 1; both records hold M*N floats.
PlainDensities plain_estimate(std::int32_t hanning, std::int32_t nb_section,
                              std::int32_t nbpoint_section, const float* voltage,
                              const float* current, float deltat);

}  // namespace psd::reference
