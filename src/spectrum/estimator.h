// Averaged-periodogram estimator of one-sided power spectral densities.
//
// Sections of N consecutive samples each have their mean removed, are optionally multiplied by a
// Hann window, transformed with drealft (both records in lock-step), and their squared magnitudes
// are summed; the sums are scaled once at the end. The rounding points (float samples, double
// section work, float spectrum before squaring, float accumulators) are fixed so that stored
// reports stay reproducible. The work goes a section at a time, so a caller reading a long record
// never needs more than one section of it in memory.
#pragma once

#include <cstdint>
#include <vector>

namespace psd {

enum class Window { none, hann };

// The densities of bins 0 .. N/2, in squared sample units per unit of frequency.
struct Densities {
    std::vector<float> psd_v;
    std::vector<float> psd_i;
};

class Estimator {
  public:
    // An estimator of N-point sections with the given window: it owns the window's weights, the
    // scratch spectrum and the sums. Throws std::bad_alloc when they cannot be allocated.
    // REQUIRES: n a power of two, 2 <= n <= 2^30.
    Estimator(Window window, std::uint32_t n);

    // Adds one section of each record to the sums: section_v and section_i hold N samples (floats
    // widened to double) and are overwritten by the work. The same as transform_section, then
    // add_transformed.
    void add_section(double* section_v, double* section_i);

    // The work on one section before its sum: mean removal, window and transform, in place. Reads
    // nothing but the window, so several threads may transform their own sections at once.
    void transform_section(double* section_v, double* section_i) const;

    // Adds the spectra of one transformed section to the sums. The sums are float additions, so
    // the order of the sections fixes the report's last digits: sections go in record order.
    void add_transformed(const double* spectrum_v, const double* spectrum_i);

    // The sections added so far.
    std::int64_t sections() const { return sections_; }

    // The densities of the sections added so far, deltat in the time stamps' unit.
    // REQUIRES: at least one section added.
    Densities densities(float deltat) const;

    // The factor the sums of one section are scaled by: 2 deltat / N as a float, times 8/3 with
    // the Hann window (the sums of M sections are then divided by M).
    static float density_scale(Window window, std::uint32_t n, float deltat);

  private:
    Window window_;
    std::uint32_t n_;
    std::int64_t sections_ = 0;
    std::vector<double> weights_;  // N Hann weights, empty without the window
    std::vector<float> spectrum_;  // N + 2: one section's spectrum, unpacked and rounded
    std::vector<float> sum_v_, sum_i_;
};

}  // namespace psd
