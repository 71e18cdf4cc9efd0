// Opening the files the tools read, and a handle that closes itself.
//
// Every reader of the tools goes through here, so that files are opened one way on every
// platform: in binary mode (the readers fold CR LF themselves, so a file reads the same on every
// system) and by the name's bytes, as fopen takes them.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace psd {

struct FileCloser {
    // A file only read from has nothing left to lose when its close fails.
    void operator()(std::FILE* stream) const { static_cast<void>(std::fclose(stream)); }
};

// An open stream, closed when the handle goes.
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens name for binary reading; empty when it cannot be opened (errno says why).
// REQUIRES: name NUL-terminated.
File open_for_reading(const char* name);

// Whether name does not depend on the current folder: "/x" (and on Windows "\\x", "C:x").
bool is_absolute_name(const std::string& name);

// name as seen from folder: name itself when it is absolute or folder is empty, else the two
// joined by a slash (every platform takes one).
std::string path_in(const std::string& folder, const std::string& name);

}  // namespace psd
