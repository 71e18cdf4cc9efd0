#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "internal/file_sink.h"
#include "internal/temporary_file.h"
#include "platform/replace_file.h"

namespace psd {

namespace {

// A symbolic link chain longer than this is treated as a loop, as the kernel does.
constexpr int max_link_hops = 40;

// Runs the content writer into fd and writes out what is left in the block.
bool write_content_to(int fd, ContentWriter write_content, const void* content) {
    FileSink sink;
    sink.handle = fd;
    return write_content(sink, content) && flush(sink);
}

// Closes fd, reporting whether the close (which may be where a delayed write error shows) worked.
bool close_checked(int fd) {
    // POSIX leaves the descriptor's state unspecified after EINTR; on Linux it is closed, so
    // retrying could close another file's descriptor.
    return ::close(fd) == 0;
}

// "dir/sub/name" -> "dir/sub/", "name" -> "", "/name" -> "/".
std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows the symbolic links that the last component of path goes through and gives the name
// of the file at the end of the chain, which need not exist yet (a dangling link). False on a
// loop or an unreadable link.
bool resolve_links(const std::string& path, std::string& target) {
    std::string current = path;
    for (int hop = 0; hop <= max_link_hops; ++hop) {
        struct stat info;
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) return false;
            target = current;
            return true;
        }
        if (!S_ISLNK(info.st_mode)) {
            target = current;
            return true;
        }
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 0) + 256, '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) return false;
        link.resize(static_cast<std::size_t>(length));
        current = link.front() == '/' ? link : folder_of(current) + link;
    }
    return false;
}

// Creates a new, empty file with a temporary name (internal/temporary_file.h) in the folder of
// target and gives its descriptor and name, or -1 with errno set; the leftovers of runs killed
// there go first. It is created with mode 0666 under the umask (and any default access list of
// the folder), exactly as a plain creation of the file would be.
int create_temporary(const std::string& target, std::string& temporary) {
    const std::string folder = folder_of(target);
    remove_leftovers(folder);
    TemporaryNames names(folder, target.substr(folder.size()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = names.next();
        const InterruptionsHeld held;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) hold_temporary(temporary.c_str());
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Makes sure a completed rename survives a crash; a folder that cannot be synced changes nothing
// about the file itself, so failures here are ignored.
void sync_folder(const std::string& target) {
    const std::string folder = folder_of(target);
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Opens an existing file that is not to be replaced for writing, or gives -1 with errno set. The
// open does not wait: a named pipe's would wait for a reader, for ever if none comes, so it fails
// at once with ENXIO instead. The writes then wait for a slow reader as usual.
int open_in_place(const char* name) {
    const int fd = ::open(name, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes the content straight into an existing file that is not to be replaced.
ReplaceStatus write_in_place(const char* name, ContentWriter write_content, const void* content) {
    const int fd = open_in_place(name);
    if (fd < 0) {
        // ENXIO also comes from a device without its hardware, which is no pipe at all.
        struct stat info;
        const bool no_reader = errno == ENXIO && ::stat(name, &info) == 0 && S_ISFIFO(info.st_mode);
        return no_reader ? ReplaceStatus::no_reader : ReplaceStatus::cannot_create;
    }
    const bool written = write_content_to(fd, write_content, content);
    const bool closed = close_checked(fd);
    return written && closed ? ReplaceStatus::written : ReplaceStatus::write_failed;
}

// Gives the new file the owner and mode of the file it replaces, as rewriting that file in place
// would keep them; false when the mode cannot be set.
bool keep_owner_and_mode(int fd, const struct stat& existing) {
    // The owner first: changing it clears set-id bits that the mode then restores. Keeping the
    // owner needs privileges that a user replacing their own file does not need, so a refusal is
    // not a failure.
    struct stat created;
    if (::fstat(fd, &created) == 0 &&
        (created.st_uid != existing.st_uid || created.st_gid != existing.st_gid)) {
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // best effort only
        }
    }
    return ::fchmod(fd, existing.st_mode & 07777) == 0;
}

// Puts the complete temporary file in the place of target, or removes it when status says that
// it is not complete (if even that fails, nothing is left to do: the failure is being reported);
// either way it is no longer the one an interrupting signal removes.
ReplaceStatus finish_temporary(const std::string& temporary, const std::string& target,
                               ReplaceStatus status) {
    {
        const InterruptionsHeld held;
        if (status == ReplaceStatus::written && ::rename(temporary.c_str(), target.c_str()) != 0)
            status = ReplaceStatus::cannot_create;
        if (status != ReplaceStatus::written) static_cast<void>(::unlink(temporary.c_str()));
        release_temporary();
    }
    if (status == ReplaceStatus::written) sync_folder(target);
    return status;
}

// Writes the content into a temporary file beside target and renames it over target once it is
// complete and on disk. existing describes target when it is already a regular file, whose owner
// and mode the new file keeps, as rewriting the file in place would.
ReplaceStatus replace_through_temporary(const std::string& target, const struct stat* existing,
                                        ContentWriter write_content, const void* content) {
    if (target.empty() || target.back() == '/') return ReplaceStatus::cannot_create;
    // Renaming would succeed over a file that may not be written, so ask first, as opening the
    // file for writing would.
    if (existing && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return ReplaceStatus::cannot_create;
    }
    std::string temporary;
    const int fd = create_temporary(target, temporary);
    if (fd < 0) {
        // A file that may be written in a folder that may not: a plain open for writing would
        // succeed, so the file is rewritten where it is rather than refused.
        const bool folder_closed = errno == EACCES || errno == EPERM;
        if (existing && folder_closed)
            return write_in_place(target.c_str(), write_content, content);
        return ReplaceStatus::cannot_create;
    }

    ReplaceStatus status = ReplaceStatus::written;
    if (existing && !keep_owner_and_mode(fd, *existing)) status = ReplaceStatus::cannot_create;
    if (status == ReplaceStatus::written && !write_content_to(fd, write_content, content))
        status = ReplaceStatus::write_failed;
    // A file system without fsync support reports EINVAL; there is nothing more to flush then.
    if (status == ReplaceStatus::written && ::fsync(fd) != 0 && errno != EINVAL) {
        status = ReplaceStatus::write_failed;
    }
    if (!close_checked(fd) && status == ReplaceStatus::written)
        status = ReplaceStatus::write_failed;
    return finish_temporary(temporary, target, status);
}

}  // namespace

bool write_all(std::intptr_t handle, const char* data, std::size_t size) {
    const int fd = static_cast<int>(handle);
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (done == 0) return false;  // no progress would loop forever
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

ReplaceStatus replace_file(const char* name, ContentWriter write_content, const void* content) {
    const std::string path = name;
    if (path.empty()) return ReplaceStatus::cannot_create;

    struct stat info;
    if (::stat(name, &info) != 0) {
        // Nothing of that name yet, or a link to nothing: create the file at the end of the chain.
        std::string target;
        if (errno != ENOENT || !resolve_links(path, target)) return ReplaceStatus::cannot_create;
        return replace_through_temporary(target, nullptr, write_content, content);
    }
    if (S_ISDIR(info.st_mode)) return ReplaceStatus::cannot_create;
    // A device or a pipe is written into, never replaced. So is a file with other hard links:
    // a rename would leave them on the earlier content.
    if (!S_ISREG(info.st_mode) || info.st_nlink > 1) {
        return write_in_place(name, write_content, content);
    }

    // A regular file, perhaps behind links: the file itself is replaced and the links are kept.
    // A chain that does not lead to that very file (the text of /proc/self/fd links, say) cannot
    // be renamed over, so such a file is rewritten where it is.
    std::string target;
    struct stat target_info;
    if (!resolve_links(path, target) || ::lstat(target.c_str(), &target_info) != 0 ||
        target_info.st_dev != info.st_dev || target_info.st_ino != info.st_ino) {
        return write_in_place(name, write_content, content);
    }
    return replace_through_temporary(target, &info, write_content, content);
}

}  // namespace psd
