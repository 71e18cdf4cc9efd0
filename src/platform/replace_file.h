// Writing a text file by name so that a failure never leaves it half-written.
//
// The content goes to a temporary file beside the named one, is flushed to the disk and then takes
// the name's place in one rename, so a failed run leaves any earlier file of that name untouched
// and no temporary file behind (nor does a run ended by a signal, see platform/signals.h; one
// killed outright leaves its file to the next run there, see internal/temporary_file.h). Names that
// must not be replaced are written straight into: a device or a named pipe (/dev/stdout, NUL, CON),
// a file with more than one hard link (every link keeps seeing the new content), and a file that
// may be written in a folder that may not (no temporary file can be made there), as a plain open
// for writing would. Names are passed to the system as the bytes they are, as fopen takes them. The
// content is text: on Windows each line feed is stored as CR LF, as a text-mode write stores it.
#pragma once

#include <cstddef>
#include <string>

namespace psd {

enum class ReplaceStatus {
    written,
    cannot_create,  // no file of that name could be made or replaced (missing folder, read-only)
    write_failed,   // a write or the final flush failed part way (a full disk)
    held_open,      // another program holds the file open without sharing it (Windows)
    no_reader,      // a named pipe that no program reads (POSIX): writing would wait for one
};

// The open file that the content is written into; replace_file hands it to the content writer.
struct FileSink;

// Appends size bytes of text to the file. Returns false once a write has failed; the content
// writer should then stop and return false. REQUIRES: text holds size bytes.
bool append_text(FileSink& sink, const char* text, std::size_t size);

// Produces the whole content through append_text; returns false if it could not.
using ContentWriter = bool (*)(FileSink& sink, const void* content);

// Writes the text that write_content(sink, content) produces to the file called name, replacing
// any earlier file of that name safely (see above).
// REQUIRES: name NUL-terminated; write_content not null.
ReplaceStatus replace_file(const char* name, ContentWriter write_content, const void* content);

// The text that write_content(sink, content) produces, appended to *text as it would be written
// to a file on Linux (line feeds as they are), for files kept in memory.
// REQUIRES: write_content not null; text not null.
bool write_content_to_text(ContentWriter write_content, const void* content, std::string* text);

}  // namespace psd
