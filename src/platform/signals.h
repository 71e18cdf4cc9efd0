// How the process meets the signals that would kill it while it writes its files.
//
// A write that fails (a closed pipe, a file size limit) must end in a message and status 1, with
// the earlier report kept and no temporary file left, rather than in a silent death.
#pragma once

namespace psd {

// Call once at the start of main. POSIX: SIGPIPE and SIGXFSZ are ignored, so that writing to a
// closed pipe or past a file size limit fails as a full disk does. Windows has no such signals.
void set_up_signals();

}  // namespace psd
