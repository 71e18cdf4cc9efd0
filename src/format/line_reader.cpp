#include <cstring>

#include "internal/line_reader.h"

namespace psd {

namespace {

// Large enough that a long report is read at disk speed, small enough to be negligible in memory.
constexpr std::size_t block_size = std::size_t{1} << 16;

}  // namespace

OpenStatus LineReader::open(const char* path, std::size_t max_line) {
    const OpenStatus opened = open_for_reading(path, &file_);
    if (opened != OpenStatus::ok) return opened;
    buffer_.assign(block_size + max_line + 1, '\0');
    begin_ = end_ = 0;
    max_line_ = max_line;
    at_eof_ = false;
    return OpenStatus::ok;
}

void LineReader::open_text(std::string_view text, std::size_t max_line) {
    // The whole text is the one block there is: the reader never asks the file for more.
    buffer_.assign(text.begin(), text.end());
    buffer_.push_back('\0');  // an empty text still has a buffer to search
    begin_ = 0;
    end_ = text.size();
    max_line_ = max_line;
    at_eof_ = true;
}

LineStatus LineReader::next(std::string_view* line, bool* had_line_end) {
    for (;;) {
        char* first = buffer_.data() + begin_;
        const std::size_t available = end_ - begin_;
        const void* lf = std::memchr(first, '\n', available);
        if (lf != nullptr) {
            std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - first);
            begin_ += length + 1;
            if (length > 0 && first[length - 1] == '\r') --length;
            if (length > max_line_) return LineStatus::too_long;
            *line = std::string_view(first, length);
            *had_line_end = true;
            return LineStatus::line;
        }
        // No line feed in what is buffered: a line longer than the limit is refused before it
        // is read further (one byte of slack keeps room for a CR before the line feed).
        if (available > max_line_ + 1) return LineStatus::too_long;
        if (at_eof_) {
            if (available == 0) return LineStatus::end_of_file;
            begin_ = end_;
            if (available > max_line_) return LineStatus::too_long;
            *line = std::string_view(first, available);
            *had_line_end = false;
            return LineStatus::line;
        }
        std::memmove(buffer_.data(), first, available);
        begin_ = 0;
        end_ = available;
        const std::size_t room = buffer_.size() - end_;
        const std::size_t got = std::fread(buffer_.data() + end_, 1, room, file_.get());
        end_ += got;
        if (got < room) {
            if (std::ferror(file_.get())) return LineStatus::read_error;
            at_eof_ = true;
        }
    }
}

}  // namespace psd
