// The steps of the sample pass that the one-thread pass (sample_stream.cpp) and the pass shared
// out among threads (sample_chunks.cpp) take alike, so that both keep the same count, bad line and
// blank tail.
#pragma once

#include "format/sample_stream.h"

namespace psd {

// From the start of a line on, the rest of the file is only counted: the count goes on from the
// lines converted so far.
void begin_counting(SampleStream& s);

// The line [first, last) is the next one after the lines converted and not a sample line, for the
// reason the rule gave: it is kept in s.bad_line.
void keep_bad_line(SampleStream& s, const char* first, const char* last, LineVerdict kind);

}  // namespace psd
