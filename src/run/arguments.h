// The command line: psd runs in the current folder, or in the one folder it is given, on as many
// threads as the machine has cores or as --threads says, and answers --help and --version without
// touching any file.
#pragma once

#include <string>

namespace psd {

enum class Action { run, help, version, misuse };

// The most threads --threads takes: far more than a pass over one file can keep busy.
constexpr unsigned max_threads = 256;

struct Arguments {
    Action action = Action::run;
    std::string folder;    // the folder to run in; empty: the current one
    unsigned threads = 0;  // --threads N; 0: one per core (default_threads)
    std::string misuse;    // misuse: the line that says what is wrong, before the usage
};

// What the command line asks for: options first ("--threads N"), then one folder at most.
// argv[1..argc) are the arguments.
// REQUIRES: argv holds argc entries.
Arguments parse_arguments(int argc, const char* const* argv);

// The threads a run uses without --threads: one per core the system reports, 1 when it reports
// none, max_threads at most.
unsigned default_threads();

// The usage text for --help and misuse, and the version line ("psd 1.0\n").
std::string usage_text();
std::string version_text();

}  // namespace psd
