// The steps of the sample pass that the one-thread pass (sample_stream.cpp) and the pass shared
// out among threads (sample_chunks.cpp) take alike, so that both keep the same count, bad line and
// blank tail.
#pragma once

#include <cstring>

#include "format/sample_line.h"
#include "format/sample_stream.h"

namespace psd {

// From the start of a line on, the rest of the file is only counted: the count goes on from the
// lines converted so far.
void begin_counting(SampleStream& s);

// Counts [first, end), the text after what s has counted so far; the blank tail goes on while that
// text is all white space.
void count_text(SampleStream& s, const char* first, const char* end);

// The file has ended while counting: the count is final, and blank lines that end it from the
// bad line on are its blank tail.
void end_counting(SampleStream& s);

// The line [first, last) is the next one after the lines converted and not a sample line, for the
// reason the rule gave: it is kept in s.bad_line.
void keep_bad_line(SampleStream& s, const char* first, const char* last, LineVerdict kind);

// Checks and converts the line at first, which a line feed before lines_end ends: a plain sample
// line in one pass over its text, anything else by the full rule. Returns that line feed; *verdict
// says what the rule says of the line. Inline, as every used line of a record takes this step.
// REQUIRES: a line feed in [first, lines_end); text_padding readable bytes after lines_end.
inline const char* read_fed_line(const char* first, const char* lines_end, SampleValues* values,
                                 LineVerdict* verdict) {
    const char* last = read_plain_sample_line(first, values);
    if (last != nullptr) {
        *verdict = LineVerdict::sample;
        return last;
    }
    last = static_cast<const char*>(
        std::memchr(first, '\n', static_cast<std::size_t>(lines_end - first)));
    *verdict = read_sample_line(first, last, true, values);
    return last;
}

}  // namespace psd
