// The console a failure message is shown on, and the wait for a key before the window closes.
//
// Started by a double-click, the tool's window closes with the process, so a failure waits for a
// key press first; a script or a pipe must never wait, or it hangs with nothing on its screen.
#pragma once

namespace psd {

// Whether standard input and standard output are both a terminal (a console window), the only
// case in which waiting for a key makes sense.
bool console_is_interactive();

// Waits for one key press on standard input: one key, not a whole line. The terminal's settings
// are changed only for the wait and restored after it, also when a signal ends the process during
// the wait. Returns at once at the end of input or on a read error.
// REQUIRES: console_is_interactive().
void wait_for_one_key();

}  // namespace psd
