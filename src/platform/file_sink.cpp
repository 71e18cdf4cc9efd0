#include <cstring>

#include "internal/file_sink.h"
#include "platform/replace_file.h"

namespace psd {

bool flush(FileSink& sink) {
    if (sink.text != nullptr) {
        sink.text->append(sink.block, sink.used);
    } else if (!sink.failed && !write_all(sink.handle, sink.block, sink.used)) {
        sink.failed = true;
    }
    sink.used = 0;
    return !sink.failed;
}

namespace {

// Copies [text, text + size) into the block, writing the block out whenever it fills up.
bool append_plain(FileSink& sink, const char* text, std::size_t size) {
    while (size > 0) {
        if (sink.used == FileSink::capacity && !flush(sink)) return false;
        const std::size_t room = FileSink::capacity - sink.used;
        const std::size_t part = size < room ? size : room;
        std::memcpy(sink.block + sink.used, text, part);
        sink.used += part;
        text += part;
        size -= part;
    }
    return !sink.failed;
}

}  // namespace

bool append_text(FileSink& sink, const char* text, std::size_t size) {
    if (!sink.crlf) return append_plain(sink, text, size);
    const char* const end = text + size;
    while (text != end) {
        const void* found = std::memchr(text, '\n', static_cast<std::size_t>(end - text));
        const char* const line_end = found ? static_cast<const char*>(found) : end;
        if (!append_plain(sink, text, static_cast<std::size_t>(line_end - text))) return false;
        if (line_end == end) break;
        if (!append_plain(sink, "\r\n", 2)) return false;
        text = line_end + 1;
    }
    return !sink.failed;
}

bool write_content_to_text(ContentWriter write_content, const void* content, std::string* text) {
    FileSink sink;
    sink.text = text;
    return write_content(sink, content) && flush(sink);
}

}  // namespace psd
