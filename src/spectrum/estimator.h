// Averaged-periodogram estimator of one-sided power spectral densities.
//
// Sections of N consecutive samples each have their mean removed, are optionally multiplied by a
// Hann window, transformed with drealft (both records in lock-step), and their squared magnitudes
// are summed; the sums are scaled once at the end. The rounding points (float samples, double
// section work, float spectrum before squaring, float accumulators) are fixed so that stored
// reports stay reproducible. The work goes a section at a time (start_psd, add_section for each,
// finish_psd), so a caller reading a long record never needs more than one section of it in memory.
#pragma once

#include <cstdint>

// Clears psd_v[0..N/2] and psd_i[0..N/2] (N = nbpoint_section) and, when hanning == 1, fills
// window[0..N) with the Hann weights.
// REQUIRES: N a power of two, at least 2; window holds N doubles when hanning == 1 (else unused).
void start_psd(std::int32_t hanning, std::int32_t nbpoint_section, double* window, float* psd_v,
               float* psd_i);

// Adds one section of each record to the sums: section_v and section_i hold N samples (floats
// widened to double) and are overwritten by the work; spectrum is N + 2 floats of scratch.
// REQUIRES: start_psd called with the same hanning, N and window.
void add_section(std::int32_t hanning, std::int32_t nbpoint_section, const double* window,
                 double* section_v, double* section_i, float* spectrum, float* psd_v, float* psd_i);

// Turns the sums of nb_section sections into densities, in squared sample units per unit of
// frequency (deltat in the time stamps' unit).
// REQUIRES: nb_section >= 1 sections added since start_psd.
void finish_psd(std::int32_t hanning, std::int32_t nb_section, std::int32_t nbpoint_section,
                float deltat, float* psd_v, float* psd_i);

// The whole estimate over records already in memory: the first nb_section * N samples of voltage
// and current, cut into sections. Work buffers: section_v, section_i N doubles each, spectrum
// N + 2 floats; the window's N weights are allocated for the call.
// REQUIRES: N a power of two, at least 2; M >= 1; voltage and current hold M*N floats.
void estimate_psd(std::int32_t hanning, std::int32_t nb_section, std::int32_t nbpoint_section,
                  const float* voltage, const float* current, float deltat, double* section_v,
                  double* section_i, float* spectrum, float* psd_v, float* psd_i);
