// The one pass over a sample file: count its lines, take the sampling interval from lines 1 and
// 2, check and convert the lines the run uses and hand them over a section at a time.
//
// Records run to 10^9 lines, so nothing here holds more than one section of samples and one read
// block: each section goes to the caller as soon as its N samples are in, and the rest of the
// file is only counted. The file is read once, front to back, with no seek. Nothing here prints:
// every outcome is a status and the fields of SampleStream.
//
// Use: start_samples, then set_used_lines, then next_section until it returns anything but
// section_ready. A pass shared among threads goes on from start_samples instead (sample_chunks.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "format/sample_line.h"

namespace psd {

enum class SampleStatus {
    ok,               // done: the whole file counted
    section_ready,    // N samples are in section_v and section_i
    fewer_than_two,   // the file holds fewer than two reads of the line reader
    first_lines_bad,  // line 1 or 2 is not a sample line (bad_line says which)
    read_error,       // the file could not be read
    too_many_lines,   // the count went past max_count
};

// The first line that is not a sample line, as far as the pass has looked.
struct BadLine {
    std::uint64_t number = 0;                    // line number from 1; 0: none found
    LineVerdict kind = LineVerdict::not_sample;  // what is wrong with it
    bool blank = false;                          // it holds nothing but white space
    std::string start;  // its first bytes (at most bad_line_shown), line feed excluded
};

// How much of a bad line the pass keeps for the message.
constexpr std::size_t bad_line_shown = 64;

// The most lines a sample file may have: its count is kept in 32 bits, as stored results were.
constexpr std::uint64_t max_sample_lines = INT32_MAX;

// The samples the first section buffers hold: larger sections grow to their length as samples
// come, so a run bound to fail for lack of samples never asks for memory the file cannot fill.
constexpr std::uint32_t first_section_capacity = std::uint32_t{1} << 16;

// The capacity section buffers of `capacity` samples (0: none yet) grow to for sections of n:
// first_section_capacity at first, then twice as many each time, never more than a section. A
// pass that shares the work out among threads grows its buffers by the same steps, so that both
// passes fail to allocate at the same point.
constexpr std::size_t next_section_capacity(std::size_t capacity, std::size_t n) {
    return capacity == 0 ? std::min<std::size_t>(n, first_section_capacity)
                         : std::min<std::size_t>(n, 2 * capacity);
}

// The block size a pass reads with.
constexpr std::size_t stream_block_size = std::size_t{1} << 20;

// The pass's read buffer. When a pass ends its buffer goes back to its thread, and the next pass
// there takes it up again: a program that reads many files (a loop over records, a fuzzing
// campaign) would otherwise allocate and clear a megabyte for each.
class ReadBuffer {
  public:
    ReadBuffer() = default;
    ReadBuffer(ReadBuffer&&) noexcept = default;
    ReadBuffer& operator=(ReadBuffer&&) noexcept = default;
    ~ReadBuffer();

    // Makes at least size bytes available; every byte is defined (zero when newly allocated).
    void ensure(std::size_t size);
    char* data() { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    char operator[](std::size_t i) const { return bytes_[i]; }

  private:
    std::vector<char> bytes_;
};

// State of one pass. The fields above the line are its results; the rest is the pass's own.
struct SampleStream {
    std::uint64_t count = 0;  // the line reader's count, final once the pass returned ok
    float deltat = 0.0f;      // line 2's time stamp minus line 1's, rounded once to float
    double first_time = 0;    // line 1's time stamp
    BadLine bad_line;
    // The first of the blank lines the file ends with, when conversion stopped there (they are no
    // samples, only the end of an export); 0 when the file does not end so.
    std::uint64_t blank_tail = 0;
    bool out_of_memory = false;   // a section buffer could not be allocated: conversion stopped
    double* section_v = nullptr;  // the section handed over by section_ready (N values each)
    double* section_i = nullptr;
    double* section_t = nullptr;  // with keep_time_stamps: the section's time stamps
    double last_time = 0;         // the time stamp of the section's last line
    // ----
    std::FILE* file = nullptr;
    std::size_t block_size = 0;
    std::uint64_t max_count = 0;
    ReadBuffer buffer;
    std::size_t pos = 0;  // next unread character of the buffer
    std::size_t len = 0;  // end of the text in the buffer
    bool at_end = false;  // the file has no more text
    bool converting = true;
    bool keep_times = false;       // section_t is kept (keep_time_stamps)
    bool tail_blank = false;       // all counted since bad_line has been white space
    std::uint64_t lines_done = 0;  // sample lines checked so far, each one read
    std::uint64_t used_lines = 0;  // lines to convert into sections
    LineCount counted;             // the count once converting has stopped
    std::uint32_t n = 0;
    std::uint32_t filled = 0;  // samples of the section in progress
    std::size_t capacity = 0;  // of the section buffers
    std::unique_ptr<double[]> voltage, current, times;
    SampleValues first_two[2] = {};
};

// Starts the pass over file (at its start): skips a UTF-8 byte order mark, then reads lines 1
// and 2 and sets deltat. Returns ok, fewer_than_two, first_lines_bad or read_error. n is the
// section length the samples are grouped by; the pass never counts beyond max_count.
// REQUIRES: file open for binary reading; block_size >= 1.
SampleStatus start_samples(SampleStream& s, std::FILE* file, std::uint32_t n,
                           std::size_t block_size = stream_block_size,
                           std::uint64_t max_count = max_sample_lines);

// How many lines from line 1 the pass checks and converts into sections (lines 1 and 2 are
// already in): 0 for none, UINT64_MAX for all; beyond them lines are only counted.
// REQUIRES: start_samples returned ok; n a power of two, at least 2, unless lines is 0.
void set_used_lines(SampleStream& s, std::uint64_t lines);

// Keeps every converted line's time stamp in section_t beside section_v and section_i, for a
// reader of the whole time axis; a run needs only the first two and the sections' last.
// REQUIRES: start_samples returned ok; set_used_lines not called yet.
void keep_time_stamps(SampleStream& s);

// Reads on to the next whole section (section_ready) or to the end of the file (ok, count
// final); read_error or too_many_lines end the pass. A used line that is not a sample line ends
// the conversion and is kept in bad_line, and so does a section buffer that cannot be allocated
// (out_of_memory); the rest is counted.
SampleStatus next_section(SampleStream& s);

// Converts no more: the rest of the file is only counted.
void stop_converting(SampleStream& s);

}  // namespace psd
