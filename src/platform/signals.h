// How the process meets the signals that would end it or kill it while it writes its files.
//
// A report is written into a temporary file that takes the report's name once it is complete
// (platform/replace_file.h). A run ended by a signal part way must not leave that file behind,
// and a write that fails (a closed pipe, a file size limit) must end in a message rather than a
// silent death.
#pragma once

namespace psd {

// Call once at the start of main. POSIX: SIGPIPE and SIGXFSZ are ignored, so that writing to a
// closed pipe or past a file size limit fails as a full disk does; SIGINT, SIGTERM, SIGHUP and
// SIGQUIT (unless ignored from the start, as nohup ignores SIGHUP) first remove the temporary file
// of a replacement under way, then end the process as they would have. Windows: Ctrl-C, Ctrl-Break
// and closing the console window remove it as well.
void set_up_signals();

}  // namespace psd
