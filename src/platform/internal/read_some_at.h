// One read of an open file at an offset, which each platform's side of read_at provides; read_at
// itself reads on until it has what it asked for, the same way on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace psd {

// Reads up to size bytes of file from offset into buffer, retrying what only interrupts a read,
// and returns how many it read: at least 1, 0 at the end of the file, -1 on a read error. It may
// read less than size before the end.
// REQUIRES: can_read_at(file); size >= 1; buffer holds size bytes.
std::int64_t read_some_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size);

}  // namespace psd
