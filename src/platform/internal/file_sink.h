// The block a file's text is gathered in before it is written, the same on every platform: a long
// file costs a few large writes instead of one per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace psd {

struct FileSink {
    static constexpr std::size_t capacity = std::size_t{1} << 16;
    std::intptr_t handle = -1;    // a file descriptor, or a Windows HANDLE
    std::string* text = nullptr;  // instead of a file: the text is appended here
    bool crlf = false;  // each line feed is stored as CR LF, as Windows text files hold it
    bool failed = false;
    std::size_t used = 0;
    char block[capacity];
};

// Writes all of data to the handle, resuming after partial writes; false when a write fails.
// Each platform's side of replace_file provides it.
bool write_all(std::intptr_t handle, const char* data, std::size_t size);

// Writes out what the block holds; false once any write has failed.
bool flush(FileSink& sink);

}  // namespace psd
