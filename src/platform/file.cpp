#include "platform/file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>

#include "platform/file_identity.h"

namespace psd {

namespace {

#ifdef _WIN32

// Opening waits for nothing on Windows: a pipe with no server fails at once, and a device such as
// CON waits only when it is read.
std::FILE* open_stream(const char* name) {
    return std::fopen(name, "rb");
}

bool make_blocking(std::FILE*) {
    return true;
}

#else

// A named pipe's open waits for a writer, for ever if none comes; opened without waiting, it is
// refused by its type instead.
std::FILE* open_stream(const char* name) {
    const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return stream;
}

// The reads of a regular file then wait for the disk as fread expects, wherever O_NONBLOCK could
// change them (a file under a mandatory lock).
bool make_blocking(std::FILE* stream) {
    const int fd = ::fileno(stream);
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

#endif

}  // namespace

bool is_absolute_name(const std::string& name) {
#ifdef _WIN32
    // "\\server\share", "\name", "/name" and "C:..." do not depend on the folder.
    return !name.empty() &&
           (name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':'));
#else
    return !name.empty() && name[0] == '/';
#endif
}

OpenStatus open_for_reading(const char* name, File* file) {
    std::FILE* const stream = open_stream(name);
    const int error = errno;
    file->reset(stream);
    if (stream == nullptr) {
        errno = error;
        return error == ENOENT || error == ENOTDIR ? OpenStatus::missing : OpenStatus::unreadable;
    }
    if (!is_regular_file(file->get())) {
        file->reset();
        return OpenStatus::not_regular;
    }
    if (!make_blocking(file->get())) {
        file->reset();
        return OpenStatus::unreadable;
    }
    return OpenStatus::ok;
}

std::string path_in(const std::string& folder, const std::string& name) {
    if (folder.empty() || is_absolute_name(name)) return name;
    const char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
    return folder + "/" + name;
}

}  // namespace psd
