// The sample pass shared out among threads: the file after lines 1 and 2 is cut into chunks of
// bytes that threads read and convert on their own, each from the first line that starts in it,
// and a sequencer takes the chunks back one at a time in file order. The count, the first bad
// line, the blank tail, the status and the samples handed over are those of the one-thread pass
// (sample_stream.h), whatever the number of threads and wherever the chunks end.
//
// A thread converts a chunk before the lines before it are known, so it cannot tell whether its
// lines are still used: it converts every line that starts in the chunk until one is not a sample
// line, and the sequencer, which knows the line numbers, takes as many as the run uses. The first
// bad line in file order wins, as in one thread, because the sequencer meets the chunks in that
// order. Once the sequencer only counts, the chunks after are only counted too, in pieces that
// join into the count of the whole (line_count.h).
//
// Use: start_samples, then a ChunkSource and a ChunkSequencer over the stream (instead of
// set_used_lines and next_section). For k = 0, 1, 2, ... any thread reads chunk k into a Chunk
// and converts it (while the sequencer converts) or counts it; one thread at a time hands the
// chunks to the sequencer in order of k, until it is done. Memory: the chunks in flight, each
// about three times chunk_bytes, whatever the length of the file. Nothing here starts a thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "format/line_count.h"
#include "format/sample_line.h"
#include "format/sample_stream.h"

namespace psd {

// The bytes of a chunk: small enough that several chunks per thread stay in a few megabytes, large
// enough that a read and a hand-over per chunk cost nothing next to its lines.
constexpr std::size_t chunk_bytes = std::size_t{1} << 18;

// Bytes read after a chunk's own: a sample line that starts in the chunk ends within them
// (read_limit characters at most, a CR and the line feed).
constexpr std::size_t chunk_overhang = read_limit + 2;

// One chunk k of the file and what a thread made of it. Its text is the byte before its own bytes,
// its own bytes (the lines that start there are its lines), then up to chunk_overhang bytes more.
struct Chunk {
    // Allocates the buffers for chunks of size bytes. Throws std::bad_alloc.
    explicit Chunk(std::size_t size);

    std::uint64_t index = 0;
    std::unique_ptr<char[]> text;  // text_padding defined bytes follow the text read
    std::size_t length = 0;        // of the text read: the byte before, its own bytes, the overhang
    std::size_t own_end = 1;       // its own bytes are [1, own_end)
    bool file_end = false;         // the file ends within the text
    bool last = false;             // the file ends within its own bytes: no chunk follows
    bool read_error = false;       // the file could not be read

    bool converted = false;                     // by convert_chunk, else counted by count_chunk
    std::size_t first_line = 0;                 // where its first line starts; own_end for none
    std::size_t next_line = 0;                  // the line after the last converted one
    std::uint32_t samples = 0;                  // sample lines converted from first_line on
    std::unique_ptr<float[]> voltage, current;  // their values, rounded to float
    bool bad = false;                           // the line at next_line is not a sample line ...
    std::size_t bad_end = 0;  // ... it ends here (its line feed, or the end of the text)
    LineVerdict kind = LineVerdict::sample;  // ... for this reason
    LineCountPiece piece;                    // count_chunk: the count of its own bytes
    bool blank = false;                      // count_chunk: its own bytes are all white space
};

// Where the chunks come from: by offset when the file has a descriptor (threads read at once),
// else in order from the stream (a thread asking for chunk k waits until chunk k - 1 is read).
class ChunkSource {
  public:
    // The chunks of s's file after the text s has taken (lines 1 and 2), chunk_size bytes each;
    // by offset only if positional and the file allows it.
    // REQUIRES: start_samples(s, ...) returned ok; s outlives the source; chunk_size >= 1.
    ChunkSource(SampleStream& s, std::size_t chunk_size, bool positional = true);

    // Reads chunk k into chunk. Each k from 0 on must be read exactly once, by any thread.
    // REQUIRES: chunk made for the source's chunk_size.
    void read(std::uint64_t k, Chunk& chunk);

  private:
    void read_in_order(std::uint64_t k, Chunk& chunk);

    SampleStream& s_;
    std::size_t chunk_size_;
    bool positional_;
    std::uint64_t origin_ = 0;  // offset of the byte before chunk 0
    std::mutex mutex_;          // in order: the turn, the spill and the stream
    std::condition_variable turn_;
    std::uint64_t next_ = 0;   // the chunk whose turn it is
    std::vector<char> spill_;  // text read but not yet given, from the byte before chunk next_
    bool failed_ = false;
};

// Converts the lines that start in the chunk, from the first, until one is not a sample line.
void convert_chunk(Chunk& chunk);

// Counts the chunk's own bytes as a piece of the file.
void count_chunk(Chunk& chunk);

// Takes the chunks back in file order and keeps the pass's results in the stream.
class ChunkSequencer {
  public:
    // Converts the first used_lines lines (0: none, UINT64_MAX: all), as set_used_lines does; lines
    // 1 and 2 are in s.first_two.
    // REQUIRES: start_samples(s, ...) returned ok; s outlives the sequencer.
    ChunkSequencer(SampleStream& s, std::uint64_t used_lines, std::size_t chunk_size);

    // Takes the next chunk: returns how many of its samples are used lines (its first ones). Once
    // done(), the stream holds the pass's results (count, bad_line, blank_tail).
    // REQUIRES: not done(); chunks in order of index; converted while converting() was true.
    std::uint32_t take(const Chunk& chunk);

    bool converting() const { return s_.converting; }
    bool done() const { return done_; }
    // ok or the pass's failure (read_error, too_many_lines), once done().
    SampleStatus status() const { return status_; }

    // Converts no more after the first `lines` lines (a buffer could not be had): a bad line found
    // after them is forgotten, as the one-thread pass would never have read it.
    void stop_converting(std::uint64_t lines);

  private:
    std::uint32_t take_samples(const Chunk& chunk);
    void count_own(const Chunk& chunk);
    void finish(SampleStatus status);

    SampleStream& s_;
    std::size_t chunk_size_;
    std::uint64_t resume_ = 1;  // where the next line starts, counted from the byte before chunk 0
    bool done_ = false;
    SampleStatus status_ = SampleStatus::ok;
};

}  // namespace psd
