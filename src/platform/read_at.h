// Reading an open file at a given offset, without its stream position: threads that share one
// sample file each read their own part of it at once, and the kernel's copy of the text is shared
// out among them like the rest of the work.
//
// Only a stream with a file descriptor of its own can be read so (a stream over memory has none);
// a reader that gets false from can_read_at reads the stream in order instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace psd {

// Whether file can be read at offsets, from several threads at once.
// REQUIRES: file open.
bool can_read_at(std::FILE* file);

// The stream position of file (bytes read through it so far from the start), or -1.
std::int64_t stream_position(std::FILE* file);

// Reads up to size bytes of file from offset into buffer and returns how many it read: size but
// at the end of the file, -1 on a read error. The stream's buffer is not used, but the position
// of the file beneath it may move (Windows moves it past each read, POSIX leaves it): once reads
// at offsets have begun, the stream is neither read in order nor asked its position until a seek
// (a rewind) sets it again.
// REQUIRES: can_read_at(file); buffer holds size bytes.
std::int64_t read_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size);

}  // namespace psd
