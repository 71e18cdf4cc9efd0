// The C library's text-to-double conversion (strtod), with the GNU C library's results on every
// platform, so that a sample file gives the same doubles, and the same report, everywhere.
//
// MinGW's strtod rounds every number as glibc does (tests prove it for hexadecimal, inf and nan
// spellings, long, subnormal and out-of-range values) but differs where no number is read ("-x":
// -0 instead of 0) and in the payload "nan(123)" puts into a NaN; the Windows side mends both.
#pragma once

namespace psd {

// As strtod(text, end): the double of the longest numeric prefix of text (0 when there is none)
// and, when end is not null, where that prefix ends (text itself when there is none).
// REQUIRES: text NUL-terminated.
double text_to_double(const char* text, char** end);

}  // namespace psd
