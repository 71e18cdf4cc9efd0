// Sample file probe and loader: the whole-record, two-pass reading.
//
// psd itself reads a sample file in one pass (sample_stream.h); these functions read it the way
// the original program did, every sample into memory, and remain as the reference that the one
// pass is tested against on well-formed files.
//
// A sample file holds one sample per line: time stamp, voltage, current, separated by white space.
// The probe sizes the file and takes the sampling interval from its first two time stamps; the
// loader reads the voltage and current columns as one stream of tokens. The counting and
// conversion rules are those of a 199-byte line reader and the C library's text-to-double
// conversion, because stored results depend on them. Nothing here prints or ends the process:
// failures come back to the caller as a zero count or false.
//
// Files of 10^8 lines are common (weeks of recording), so both passes read the stream in large
// blocks and convert plain decimal numbers with std::from_chars, which gives the same double as
// strtod for them; every other number form goes to strtod itself. CR LF counts as one line feed
// on every platform, so a file gives the same count whether or not the runtime folds line ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Line count of the last probed sample file and its sampling interval (time stamp units).
extern std::int32_t nbpoint_acqui;
extern float deltat;

// Why a probe returned 0 although the file may have had two lines.
enum class ProbeFault { none, read_error, too_many_lines };

// Counts the file's lines by the 198-character read rule into nbpoint_acqui, sets deltat from the
// first two reads, rewinds the stream and returns the count. Returns 0 when the file holds fewer
// than two reads of text (*fault none), or on a read error or a count beyond 32 bits (*fault says).
// REQUIRES: stream open for reading at its start; fault may be null.
std::int32_t DetecteESA400(std::FILE* stream, ProbeFault* fault = nullptr);

// Reads count samples (three tokens each, time stamp skipped) from the stream's position into
// voltage[0..count) and current[0..count), each token converted to double then rounded to float.
// Tokens missing at the end of the stream repeat the last voltage and current read (0 if none).
// Returns false on a read error. REQUIRES: count >= 0; both arrays hold count floats.
bool load_samples(std::FILE* stream, std::int32_t count, float* voltage, float* current);

// The block size both passes read with.
constexpr std::size_t sample_block_size = std::size_t{1} << 20;

// Testing hooks: DetecteESA400 and load_samples reading blocks of block_size bytes, so that tests
// can put block boundaries anywhere; the probe treats a count above max_count as too many lines.
// DetecteESA400 is probe_sample_file(stream, sample_block_size, INT32_MAX, fault).
// REQUIRES: block_size >= 1; max_count >= 0; otherwise as DetecteESA400 and load_samples.
std::int32_t probe_sample_file(std::FILE* stream, std::size_t block_size, std::int32_t max_count,
                               ProbeFault* fault);
bool load_sample_blocks(std::FILE* stream, std::size_t block_size, std::int32_t count,
                        float* voltage, float* current);
