// The console text of every failure of a run, in one place: the older program's message lines
// word for word, then at most one line with the numbers or names that tell the user what to do.
#pragma once

#include <string>

#include "run/failure.h"

namespace psd {

// The message lines of the failure, each beginning a new line after a blank one as the older
// program wrote them, without the line every failure ends with.
std::string message_of(const Failure& failure);

// The line every failure ends with, and that a console window waits after.
inline constexpr const char* closing_line = "Click on any key to exit\n";

}  // namespace psd
