// Opening the files the tools read, and a handle that closes itself.
//
// Every reader of the tools goes through here, so that files are opened one way on every
// platform: in binary mode (the readers fold CR LF themselves, so a file reads the same on every
// system), by the name's bytes, as fopen takes them, and regular files only.
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

// What opening a file for reading found.
enum class OpenStatus {
    ok,
    missing,      // nothing of that name (ENOENT, or a part of the path that is no folder)
    not_regular,  // a folder, a named pipe or a device, which cannot be measured or re-read
    unreadable,   // there, but it may not be opened (errno says why)
};

// Opens name for binary reading into *file, which stays empty unless ok. The open never waits:
// a named pipe with no writer, or a device, is refused before anything is read from it, so a
// reader cannot hang on one. REQUIRES: name NUL-terminated; file not null.
OpenStatus open_for_reading(const char* name, File* file);

// Whether name does not depend on the current folder: "/x" (and on Windows "\\x", "C:x").
bool is_absolute_name(const std::string& name);

// name as seen from folder: name itself when it is absolute or folder is empty, else the two
// joined by a slash (every platform takes one).
std::string path_in(const std::string& folder, const std::string& name);

}  // namespace psd
