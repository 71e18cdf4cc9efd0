// Checks of a report against the sample file it was computed from: the noise resistance
// Rn = sigma_V / sigma_I over the samples the report used, the mean sampling interval of those
// samples (the report relies on the first two time stamps alone), and the cross-spectral estimate
// of the same sections (spectrum/cross_spectrum.h): the coherence and phase of voltage and
// current, the zero-frequency bin the report leaves out, and the windowed sums of squares that
// Parseval's check compares the spectrum with.
//
// The samples are read by psd's own pass (format/sample_stream.h), under the same sample-line
// rule and with the same messages: the first M x N lines, each number converted to a double and
// rounded to a 32-bit float, each section's own mean removed (in double), or the line or parabola
// fitted to it when asked, for the spectrum and the time-domain figures alike
// (summary/record_stats.h); on request the record is traced for the plot (summary/record_trace.h)
// and each section's figures handed over as soon as it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "spectrum/cross_spectrum.h"
#include "summary/record_stats.h"
#include "summary/record_trace.h"

namespace psd {

struct SampleStats {
    std::int64_t samples = 0;   // M x N, the samples used
    double first_interval = 0;  // second time stamp minus the first, as a 32-bit float like psd's
    double mean_interval = 0;   // (last used time stamp - first) / (samples - 1)
    double variance_v = 0;      // mean square about each section's own trend, V^2
    double variance_i = 0;      // likewise, A^2
    std::optional<CrossSpectrum> cross;  // the same sections and window as the report
    std::optional<RecordStats> record;   // the time-domain figures
    std::optional<RecordTrace> trace;    // when asked for
};

// What the pass does besides the report's own checks.
struct SamplePass {
    Detrend detrend = Detrend::mean;  // the trend each section loses
    std::size_t trace_columns = 0;    // the columns of the record's trace; 0 for none
    // Called with each section's figures as soon as it is read; may be empty.
    std::function<void(const SectionFigures&)> on_section;
};

enum class SampleStatsStatus { ok, missing, unusable };

// Reads the first nb_section x nbpoint_section samples of the file at path: their cross-spectrum
// with the report's window and the trend pass asks for, and their time-domain figures. On
// failure *why says
// what is wrong: for missing, in words that can follow the file's name; for unusable, a whole
// message (psd's own for a file that breaks the sample-line rule), the file named as name.
// REQUIRES: nb_section >= 1, nbpoint_section a power of two >= 2; stats and why not null.
SampleStatsStatus read_sample_stats(const char* path, const std::string& name,
                                    std::int32_t nb_section, std::int32_t nbpoint_section,
                                    Window window, const SamplePass& pass, SampleStats* stats,
                                    std::string* why);

// The one-sided density of bins 0 .. N/2 integrated over frequency, bins of equal width
// bin_width: zero_bin (bin 0's density, which a report leaves out) and psd[count - 1] (the Nyquist
// bin) count half, as they stand for half a bin each of the whole circle, psd[0 .. count - 1)
// (bins 1 .. N/2 - 1) whole. For a density in V^2/Hz, the power in V^2.
// REQUIRES: count >= 1.
double integrated_density(double zero_bin, const double* psd, std::size_t count, double bin_width);

}  // namespace psd
