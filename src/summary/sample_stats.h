// Checks of a report against the sample file it was computed from: the noise resistance
// Rn = sigma_V / sigma_I over the samples the report used, the mean sampling interval of those
// samples (the report relies on the first two time stamps alone), and Parseval's check (the
// variance of a record against its density integrated over frequency).
//
// The samples are taken as psd takes them: the first M x N lines, each number converted to a
// double and rounded to a 32-bit float, each section's own mean removed (in double).
#pragma once

#include <cstddef>
#include <string>

struct SampleStats {
    long long samples = 0;      // M x N, the samples used
    double first_interval = 0;  // second time stamp minus the first, as a 32-bit float like psd's
    double mean_interval = 0;   // (last used time stamp - first) / (samples - 1)
    double variance_v = 0;      // mean square about each section's own mean, V^2
    double variance_i = 0;      // likewise, A^2
};

enum class SampleStatus { ok, missing, unreadable, malformed, too_short, no_memory };

// Reads the first nb_section x nbpoint_section samples of the file at path. On failure *why says
// what is wrong, in words that can follow the file's name.
// REQUIRES: nb_section >= 1, nbpoint_section >= 2; stats and why not null.
SampleStatus read_sample_stats(const char* path, int nb_section, int nbpoint_section,
                               SampleStats* stats, std::string* why);

// The one-sided density psd[0..count) integrated over frequency as a sum of bins of equal width
// bin_width: for a density in V^2/Hz the power in V^2, the variance by Parseval's theorem.
double integrated_density(const double* psd, std::size_t count, double bin_width);
