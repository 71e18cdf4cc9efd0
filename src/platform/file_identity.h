// What a name or an open stream refers to on the file system, for the checks that keep a run
// from reading what it cannot re-read or from writing over what it reads.
#pragma once

#include <cstdio>

namespace psd {

// Whether the open stream reads a regular file: not a pipe, a device or a folder, which cannot be
// measured or re-read. REQUIRES: stream open.
bool is_regular_file(std::FILE* stream);

// Whether names a and b reach the same file: by device and file number when both exist (so a
// link or a second hard link counts), by the names' text otherwise.
// REQUIRES: a and b NUL-terminated.
bool same_file(const char* a, const char* b);

// Whether name is a folder that may be entered (searched for the names in it), as a program
// started there needs. REQUIRES: name NUL-terminated.
bool is_enterable_folder(const char* name);

}  // namespace psd
