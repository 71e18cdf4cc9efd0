// Line-by-line reading of the text files psd-summary looks at (reports and sample files), in
// blocks, so that a file of millions of lines is read quickly and a file that is not text at all
// (no line end for megabytes) is refused instead of being held in memory whole.
//
// Files are opened in binary mode and a CR before a line feed is dropped here, so reports and
// sample files written on Windows (CR LF) read the same on every system.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <vector>

struct LineReader {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    std::size_t begin = 0;  // first unread byte in buffer
    std::size_t end = 0;    // one past the last byte read into buffer
    std::size_t max_line = 0;
    bool at_eof = false;
};

enum class LineStatus { line, end_of_file, too_long, read_error };

// Opens path for reading lines of at most max_line bytes (line end excluded). Returns false when
// the file cannot be opened (errno tells why); the reader is then left closed.
// REQUIRES: max_line > 0; reader not open.
bool open_lines(LineReader* reader, const char* path, std::size_t max_line);

// Closes the file; safe on a reader that is not open.
void close_lines(LineReader* reader);

// Reads the next line into *line (without its LF or CR LF), valid until the next call, and sets
// *had_line_end to whether a line feed ended it (false only for a last line cut short).
// REQUIRES: reader open.
LineStatus next_line(LineReader* reader, std::string_view* line, bool* had_line_end);
