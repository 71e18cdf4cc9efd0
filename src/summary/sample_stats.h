// Checks of a report against the sample file it was computed from: the noise resistance
// Rn = sigma_V / sigma_I over the samples the report used, the mean sampling interval of those
// samples (the report relies on the first two time stamps alone), and Parseval's check (the
// variance of a record against its density integrated over frequency).
//
// The samples are read by psd's own pass (format/sample_stream.h), under the same sample-line
// rule and with the same messages: the first M x N lines, each number converted to a double and
// rounded to a 32-bit float, each section's own mean removed (in double).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace psd {

struct SampleStats {
    std::int64_t samples = 0;   // M x N, the samples used
    double first_interval = 0;  // second time stamp minus the first, as a 32-bit float like psd's
    double mean_interval = 0;   // (last used time stamp - first) / (samples - 1)
    double variance_v = 0;      // mean square about each section's own mean, V^2
    double variance_i = 0;      // likewise, A^2
};

enum class SampleStatsStatus { ok, missing, unusable };

// Reads the first nb_section x nbpoint_section samples of the file at path. On failure *why says
// what is wrong: for missing, in words that can follow the file's name; for unusable, a whole
// message (psd's own for a file that breaks the sample-line rule), the file named as name.
// REQUIRES: nb_section >= 1, nbpoint_section a power of two >= 2; stats and why not null.
SampleStatsStatus read_sample_stats(const char* path, const std::string& name,
                                    std::int32_t nb_section, std::int32_t nbpoint_section,
                                    SampleStats* stats, std::string* why);

// The one-sided density psd[0..count) integrated over frequency as a sum of bins of equal width
// bin_width: for a density in V^2/Hz the power in V^2, the variance by Parseval's theorem.
double integrated_density(const double* psd, std::size_t count, double bin_width);

}  // namespace psd
