#include "platform/read_at.h"

#include "internal/read_some_at.h"

namespace psd {

std::int64_t read_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size) {
    std::size_t done = 0;
    // A read may give less than asked before the end (a signal, a very large read): read on until
    // the end of the file gives nothing.
    while (done < size) {
        const std::int64_t got = read_some_at(file, offset + done, buffer + done, size - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace psd
