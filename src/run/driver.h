// The driver: one fixed run from config_psd.txt to the report, and the one failure exit.
//
// run_psd performs the whole run in the current directory and hands any failure back as the
// message text, so the run can be tested and fuzzed in-process; only main turns a failure into
// pause_and_exit, which is the single place where the process ends on an error.
#pragma once

#include <optional>
#include <string>

// Writes message, then "Click on any key to exit\n" to standard output, waits for one key press
// when standard input and standard output are both a terminal (not in a script or a pipe), and
// ends the process with status 1.
[[noreturn]] void pause_and_exit(const std::string& message);

// Makes folder the current directory for the run. Returns nothing on success, otherwise the
// failure's message, beginning with a line feed.
std::optional<std::string> enter_folder(const std::string& folder);

// Runs the analysis in the current directory. Returns nothing on success (the report written),
// otherwise the failure's message lines, concatenated, each beginning with a line feed.
std::optional<std::string> run_psd();
