#include "summary/line_reader.h"

#include <cstring>

namespace {

// Large enough that a sample file is read at disk speed, small enough to be negligible in memory.
constexpr std::size_t block_size = std::size_t{1} << 16;

}  // namespace

bool open_lines(LineReader* reader, const char* path, std::size_t max_line) {
    reader->file = std::fopen(path, "rb");
    if (reader->file == nullptr) return false;
    reader->buffer.assign(block_size + max_line + 1, '\0');
    reader->begin = reader->end = 0;
    reader->max_line = max_line;
    reader->at_eof = false;
    return true;
}

void close_lines(LineReader* reader) {
    // A file only read from has nothing left to lose when its close fails.
    if (reader->file != nullptr) static_cast<void>(std::fclose(reader->file));
    reader->file = nullptr;
}

LineStatus next_line(LineReader* reader, std::string_view* line, bool* had_line_end) {
    for (;;) {
        char* first = reader->buffer.data() + reader->begin;
        const std::size_t available = reader->end - reader->begin;
        const void* lf = std::memchr(first, '\n', available);
        if (lf != nullptr) {
            std::size_t length = static_cast<const char*>(lf) - first;
            reader->begin += length + 1;
            if (length > 0 && first[length - 1] == '\r') --length;
            if (length > reader->max_line) return LineStatus::too_long;
            *line = std::string_view(first, length);
            *had_line_end = true;
            return LineStatus::line;
        }
        // No line feed in what is buffered: a line longer than the limit is refused before it
        // is read further (one byte of slack keeps room for a CR before the line feed).
        if (available > reader->max_line + 1) return LineStatus::too_long;
        if (reader->at_eof) {
            if (available == 0) return LineStatus::end_of_file;
            reader->begin = reader->end;
            std::size_t length = available;
            if (length > reader->max_line) return LineStatus::too_long;
            *line = std::string_view(first, length);
            *had_line_end = false;
            return LineStatus::line;
        }
        std::memmove(reader->buffer.data(), first, available);
        reader->begin = 0;
        reader->end = available;
        const std::size_t room = reader->buffer.size() - reader->end;
        const std::size_t got =
            std::fread(reader->buffer.data() + reader->end, 1, room, reader->file);
        reader->end += got;
        if (got < room) {
            if (std::ferror(reader->file)) return LineStatus::read_error;
            reader->at_eof = true;
        }
    }
}
