// What is wrong with a sample file, in the words every tool that reads one shows: psd and
// psd-summary read samples through the same pass and say the same about a file they cannot use.
//
// Each text is one or more lines, each ended by a line feed; the caller frames them (psd puts a
// blank line before its messages). Names are shown as the configuration or the report gives them.
#pragma once

#include <string>

#include "format/sample_stream.h"

namespace psd {

// The words for a pass that ended in a fault: fewer_than_two, first_lines_bad (the pass's
// bad_line), read_error, too_many_lines.
// REQUIRES: status is one of these.
std::string sample_problem_text(SampleStatus status, const BadLine& bad_line,
                                const std::string& data_file);

// The line that is not a sample line: its number, what it holds (at most a screen's width, with
// control characters made visible) and what to do about it.
std::string bad_line_text(const BadLine& bad, const std::string& data_file);

// At most a console line's width of text (60 characters), control characters written as \t, \r
// or \xNN so that the console shows what is really there; *cut says whether text was longer.
std::string visible_text(const std::string& text, bool* cut);

// The file could not be read: a folder, a device, a read error.
std::string unreadable_text(const std::string& data_file);

}  // namespace psd
