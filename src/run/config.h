// Run configuration: the five fields of config_psd.txt.
//
// The file is read as the scan format "%s %d %d %d %s\n" would read it: two whitespace-free
// names around three decimal integers, separated by any white space; nothing after the fifth
// field is read. Unlike a bare scan, a malformed file is detected, so no field is ever undefined.
// A UTF-8 byte order mark at the very start, as some editors write one, is skipped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "spectrum/estimator.h"

namespace psd {

struct RunConfig {
    std::string data_file;             // sample file name, at most 127 characters
    std::int32_t hanning = 0;          // as configured, for the report's parameter line
    Window window = Window::none;      // the Hann window when hanning is 1, else none
    std::int32_t nb_section = 0;       // sections averaged (M); 0: as many as fit
    std::int32_t nbpoint_section = 0;  // points per section (N), checked by the driver
    std::string output_file;           // report file name, at most 127 characters
};

// The longest file name a configuration may give.
constexpr std::size_t max_name_length = 127;

// What is wrong with a malformed configuration.
enum class ConfigStatus { ok, read_error, missing_field, not_whole_number, name_too_long };

// Where a malformed configuration goes wrong, for its message.
struct ConfigProblem {
    const char* field = "";  // the first bad field, named as in RunConfig
    std::string token;       // what was read as that field (its first 200 characters)
    bool unicode = false;    // the file is UTF-16 ("Unicode" in Windows editors), not plain text
};

// Reads the five fields from the stream's position into *config. Anything but ok means a
// malformed file (a field missing, an integer not whole or out of 32-bit range, a name over 127
// characters, a read error); *problem then says where. An integer is an optional sign and digits,
// ended by white space or the end of the file.
// REQUIRES: stream open for reading; config and problem not null.
ConfigStatus read_run_config(std::FILE* stream, RunConfig* config, ConfigProblem* problem);

}  // namespace psd
