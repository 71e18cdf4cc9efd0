#include "platform/read_at.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "internal/read_some_at.h"

namespace psd {

bool can_read_at(std::FILE* file) {
    return fileno(file) >= 0;
}

std::int64_t stream_position(std::FILE* file) {
    return static_cast<std::int64_t>(ftello(file));
}

std::int64_t read_some_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = pread(fileno(file), buffer, size, static_cast<off_t>(offset));
        if (got >= 0) return static_cast<std::int64_t>(got);
        if (errno != EINTR) return -1;
    }
}

}  // namespace psd
