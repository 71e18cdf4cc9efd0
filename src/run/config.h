// Run configuration: the five fields of config_psd.txt.
//
// The file is read as the scan format "%s %d %d %d %s\n" would read it: two whitespace-free
// names around three decimal integers, separated by any white space; nothing after the fifth
// field is read. Unlike a bare scan, a malformed file is detected, so no field is ever undefined.
// A UTF-8 byte order mark at the very start, as some editors write one, is skipped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

struct RunConfig {
    std::string data_file;             // sample file name, at most 127 characters
    std::int32_t hanning = 0;          // 1: Hann window; any other value: none
    std::int32_t nb_section = 0;       // sections averaged (M)
    std::int32_t nbpoint_section = 0;  // points per section (N), checked by the driver
    std::string output_file;           // report file name, at most 127 characters
};

// The longest file name a configuration may give.
constexpr std::size_t max_name_length = 127;

// What is wrong with a malformed configuration, and in which field (its name as in RunConfig).
enum class ConfigFault { none, read_error, missing_field, not_whole_number, name_too_long };
struct ConfigProblem {
    ConfigFault fault = ConfigFault::none;
    const char* field = "";
};

// Reads the five fields from the stream's position. Returns nothing when the file is malformed
// (a field missing, an integer not whole or out of 32-bit range, a name over 127 characters, a
// read error); *problem then names the first bad field. An integer is an optional sign and
// digits, ended by white space or the end of the file.
// REQUIRES: stream open for reading; problem may be null.
std::optional<RunConfig> read_run_config(std::FILE* stream, ConfigProblem* problem = nullptr);
