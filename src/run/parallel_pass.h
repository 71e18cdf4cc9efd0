// The pass over the samples and the work on their sections, shared out among threads.
//
// Every thread takes whatever work is there: reading and converting the next chunk of the file,
// or transforming a batch of whole sections. The work that must keep the record's order is done by
// one thread at a time, whichever finds it: taking the chunks back in file order (the line numbers,
// the first bad line, the count; sample_chunks.h) and adding the transformed sections to the sums
// in section order, since float sums in another order would change the report's last digits.
// Queues are bounded (a few chunks and a few batches of sections per thread), so memory depends on
// N and the number of threads, never on the length of the record. The results are those of the
// one-thread pass, bit for bit, for any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/sample_chunks.h"
#include "format/sample_stream.h"
#include "run/plan.h"
#include "spectrum/estimator.h"

namespace psd {

// How the file is cut and read; tests take small chunks to put chunk ends everywhere.
struct PassLayout {
    std::size_t chunk_size = chunk_bytes;
    bool positional = true;  // read by offset where the file allows it, else in order
};

// Reads on from lines 1 and 2 (start_samples) to the end of the file with `threads` threads, the
// calling one among them, converting the first used_lines lines (as set_used_lines takes them)
// into sections of n points that the estimator, built with the first whole section, takes in
// order. The stream's results and the pass's are those of the one-thread pass. Returns nothing
// when the threads' buffers cannot be had; nothing has been read then, and one thread can go on.
// REQUIRES: start_samples(stream, ...) returned ok; threads >= 1; n a power of two >= 2 unless
// used_lines is 0.
std::optional<PassResult> run_parallel_pass(SampleStream& stream, std::uint64_t used_lines,
                                            Window window, std::uint32_t n, unsigned threads,
                                            std::optional<Estimator>& estimator,
                                            const PassLayout& layout = {});

}  // namespace psd
