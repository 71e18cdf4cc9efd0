#include "platform/read_at.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace psd {

bool can_read_at(std::FILE* file) {
    return fileno(file) >= 0;
}

std::int64_t stream_position(std::FILE* file) {
    return static_cast<std::int64_t>(ftello(file));
}

std::int64_t read_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size) {
    const int descriptor = fileno(file);
    std::size_t done = 0;
    // pread may return less than asked before the end (a signal, a very large read): read on
    // until the end of the file gives nothing.
    while (done < size) {
        const ssize_t got =
            pread(descriptor, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace psd
