// The command line: psd runs in the current folder, or in the one folder it is given, and
// answers --help and --version without touching any file.
#pragma once

#include <string>

namespace psd {

enum class Action { run, help, version, misuse };

struct Arguments {
    Action action = Action::run;
    std::string folder;  // the folder to run in; empty: the current one
    std::string misuse;  // misuse: the line that says what is wrong, before the usage
};

// What the command line asks for. argv[1..argc) are the arguments.
// REQUIRES: argv holds argc entries.
Arguments parse_arguments(int argc, const char* const* argv);

// The usage text for --help and misuse, and the version line ("psd 1.0\n").
std::string usage_text();
std::string version_text();

}  // namespace psd
