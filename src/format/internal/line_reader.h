// Line-by-line reading of a report, in blocks, so that a report of millions of lines is read
// quickly and a file that is not text at all (no line end for megabytes) is refused instead of
// being held in memory whole.
//
// Files are opened in binary mode and a CR before a line feed is dropped here, so reports written
// on Windows (CR LF) read the same on every system.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace psd {

enum class LineStatus { line, end_of_file, too_long, read_error };

class LineReader {
  public:
    // Opens path for reading lines of at most max_line bytes (line end excluded), as
    // open_for_reading does: anything but ok leaves nothing to read. The file closes with the
    // reader. REQUIRES: max_line > 0.
    OpenStatus open(const char* path, std::size_t max_line);

    // Reads the lines of text instead of a file's, under the same limit.
    // REQUIRES: max_line > 0.
    void open_text(std::string_view text, std::size_t max_line);

    // Reads the next line into *line (without its LF or CR LF), valid until the next call, and
    // sets *had_line_end to whether a line feed ended it (false only for a last line cut short).
    // REQUIRES: open returned ok, or open_text was called.
    LineStatus next(std::string_view* line, bool* had_line_end);

  private:
    File file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // first unread byte in buffer
    std::size_t end_ = 0;    // one past the last byte read into buffer
    std::size_t max_line_ = 0;
    bool at_eof_ = false;
};

}  // namespace psd
