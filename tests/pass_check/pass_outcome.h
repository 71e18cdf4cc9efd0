// What a sample pass leaves for a run's checks and its report, taken from the one-thread pass as
// the driver runs it and from the pass shared out among threads, so that a test or a fuzz target
// can hold the second against the first on any file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "format/sample_stream.h"
#include "run/parallel_pass.h"

namespace psd::check {

struct PassOutcome {
    SampleStatus status = SampleStatus::ok;
    std::uint64_t count = 0;
    BadLine bad_line;
    std::uint64_t blank_tail = 0;
    std::int64_t sections = 0;
    std::vector<float> densities;  // voltage then current, with the Hann window
    std::string fault;             // what the shared pass did wrong on its own terms, if anything
};

// The pass over file from its start with one thread, sections of n points, the first `used` lines
// used (0: none, UINT64_MAX: all), counting at most max_count lines, read in blocks of block_size.
// REQUIRES: file open for binary reading at its start; n a power of two >= 2; block_size >= 1.
PassOutcome one_thread_pass(std::FILE* file, std::uint32_t n, std::uint64_t used,
                            std::uint64_t max_count, std::size_t block_size);

// The same pass shared among `threads` threads, the file cut as layout says; nothing when the
// threads' buffers cannot be had. REQUIRES: as for one_thread_pass; threads >= 1.
std::optional<PassOutcome> shared_pass(std::FILE* file, std::uint32_t n, std::uint64_t used,
                                       std::uint64_t max_count, std::size_t block_size,
                                       unsigned threads, const PassLayout& layout);

// How got differs from expected, in words, or "" when it does not: status, then (unless the line
// limit was passed, which a run refuses for that alone) count, first bad line, blank tail, sections
// and densities (bit for bit, any NaN matching any NaN).
std::string first_difference(const PassOutcome& got, const PassOutcome& expected);

}  // namespace psd::check
