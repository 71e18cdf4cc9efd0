// The printf-style text of psd-summary's figures and messages, shared by the summary's messages
// and its printed forms so that a number reads the same in both.
#pragma once

#include <string>

#include "spectrum/cross_spectrum.h"

namespace psd {

// What printf would write for pattern and its arguments, however long (a file name can be).
std::string format(const char* pattern, ...);

// A figure to 4 significant digits, more than any of these estimates can claim. A value that is
// not a finite number gives "not available": no figure is ever printed as nan or inf.
std::string number(double value);

// A name or other text as a CSV field: quoted (RFC 4180) only when it must be.
std::string csv_text(const std::string& text);

// text between two quote characters q, each q within it written twice (as CSV and gnuplot both
// read a quote inside a quoted text).
std::string quoted_text(const std::string& text, char q);

// Full precision for tables (%.9g): a spreadsheet reads it back to the same double. A figure that
// is not a finite number is not available, as the text says, and its cell is empty.
std::string csv_number(double value);

// The word --detrend takes for a trend ("none" for the mean alone), and the words that say which
// trend each section lost ("section means removed").
std::string detrend_word(Detrend detrend);
std::string removed_words(Detrend detrend);

}  // namespace psd
