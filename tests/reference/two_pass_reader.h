// The whole-record reading of a sample file, written as plainly as possible: the reference that
// psd's one pass (format/sample_stream.h) is checked against on well-formed files.
//
// It reads the way the original program did, every sample into memory: a probe that counts the
// pieces a 199-byte line reader returns (CR LF folded into one line feed) and takes the sampling
// interval from the start of the first two, then a loader that reads the voltage and current
// columns as one stream of white-space-delimited tokens, each converted by strtod and rounded to
// float. It shares no code with the product's readers: whole strings, no blocks, no fast paths.
#pragma once

#include <cstdint>
#include <cstdio>

namespace psd::reference {

// Why a probe found no count although the file may have had two lines.
enum class ProbeFault { none, read_error, too_many_lines };

struct Probe {
    std::int32_t count = 0;  // pieces of the line reader; 0 when fewer than two
    float deltat = 0.0f;     // strtod of piece 2 minus strtod of piece 1, rounded once to float
    ProbeFault fault = ProbeFault::none;
};

// Probes the stream from its start and rewinds it after a count; a count beyond max_count is
// too many lines. REQUIRES: stream open for reading at its start.
Probe probe_samples(std::FILE* stream, std::int32_t max_count = INT32_MAX);

// Reads count samples (three tokens each, time stamp skipped) from the stream's position into
// voltage[0..count) and current[0..count). Tokens missing at the end of the stream repeat the
// last voltage and current read (0 if none). Returns false on a read error.
// REQUIRES: count >= 0; both arrays hold count floats.
bool load_samples(std::FILE* stream, std::int32_t count, float* voltage, float* current);

}  // namespace psd::reference
