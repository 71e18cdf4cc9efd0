// The printf-style text of psd-summary's figures and messages, shared by the summary's messages
// and its printed forms so that a number reads the same in both.
#pragma once

#include <string>

namespace psd {

// What printf would write for pattern and its arguments, however long (a file name can be).
std::string format(const char* pattern, ...);

// A figure to 4 significant digits, more than any of these estimates can claim. A value that is
// not a finite number gives "not available": no figure is ever printed as nan or inf.
std::string number(double value);

}  // namespace psd
