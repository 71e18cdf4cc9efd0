// Averaged-periodogram estimator of one-sided power spectral densities.
//
// Cuts the first nb_section * nbpoint_section samples into consecutive sections, removes each
// section's mean, optionally applies a Hann window, transforms with drealft and averages the
// squared magnitudes. The rounding points (float samples, double section work, float spectrum
// before squaring, float accumulators) are fixed so that stored reports stay reproducible.
#pragma once

#include <cstdint>

// Fills psd_v[0..N/2] and psd_i[0..N/2] (N = nbpoint_section, M = nb_section) with the densities in
// squared sample units per unit of frequency; hanning == 1 selects the window, whose N weights
// it keeps in one allocation for the call. Work buffers: section_v, section_i N doubles each,
// spectrum N + 2 floats.
// REQUIRES: N a power of two, at least 2; M >= 1; voltage and current hold M*N floats.
void estimate_psd(std::int32_t hanning, std::int32_t nb_section, std::int32_t nbpoint_section,
                  const float* voltage, const float* current, float deltat, double* section_v,
                  double* section_i, float* spectrum, float* psd_v, float* psd_i);
