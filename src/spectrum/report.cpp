#include "spectrum/report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// A symbolic link chain longer than this is treated as a loop, as the kernel does.
constexpr int max_link_hops = 40;

// Writes all of data, resuming after interrupted or partial writes.
bool write_all(int fd, const char* data, std::size_t size) {
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

// Text formatted into a fixed block and written out whenever the block fills up, so a report of
// many bins costs a few large writes instead of one per line.
struct BlockWriter {
    static constexpr std::size_t capacity = 1 << 16;
    int fd;
    std::size_t used = 0;
    char block[capacity];
};

bool flush(BlockWriter& out) {
    const bool ok = write_all(out.fd, out.block, out.used);
    out.used = 0;
    return ok;
}

bool append(BlockWriter& out, const std::string& text) {
    if (text.size() > BlockWriter::capacity - out.used) {
        if (!flush(out)) return false;
        if (text.size() > BlockWriter::capacity) return write_all(out.fd, text.data(), text.size());
    }
    text.copy(out.block + out.used, text.size());
    out.used += text.size();
    return true;
}

std::string parameter_line(const char* data_file, std::int32_t hanning, std::int32_t nb_section,
                           std::int32_t nbpoint_section) {
    static const char format[] =
        "data file = %s    hanning = %d    nb_section = %d     nbpoint_section = %d\n";
    const int length =
        std::snprintf(nullptr, 0, format, data_file, hanning, nb_section, nbpoint_section);
    if (length < 0) return std::string();
    std::string line(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(line.data(), line.size(), format, data_file, hanning, nb_section,
                  nbpoint_section);
    line.pop_back();
    return line;
}

// What one report shows: write_report's arguments, gathered for the helpers below.
struct Report {
    const char* data_file;
    std::int32_t hanning;
    std::int32_t nb_section;
    std::int32_t nbpoint_section;
    float deltat;
    const float* psd_v;
    const float* psd_i;
};

// Writes the whole report to fd; false if any write fails.
bool write_content(int fd, const Report& report) {
    BlockWriter out;
    out.fd = fd;
    const std::string parameters =
        parameter_line(report.data_file, report.hanning, report.nb_section, report.nbpoint_section);
    if (parameters.empty()) return false;
    if (!append(out, parameters)) return false;
    if (!append(out, "    frequency        PSD_v           PSD_i            Zn\n")) return false;

    // The Nyquist frequency is kept as a float, as earlier reports were made; the bin spacing is
    // then formed from it before multiplying by the bin number.
    const float f_nyquist =
        static_cast<float>(1.0 / (static_cast<double>(report.deltat) + report.deltat));
    const std::int32_t half = report.nbpoint_section / 2;
    const double bin_width = static_cast<double>(f_nyquist) / static_cast<double>(half);

    // A data line is at most four fields of 14 characters (a double's widest "%e" text, such as
    // -1.797693e+308, is 14 characters), three tabs and a line feed.
    constexpr std::size_t longest_line = 64;
    for (std::int32_t k = 1; k <= half; ++k) {
        if (BlockWriter::capacity - out.used < longest_line && !flush(out)) return false;
        const double psd_v_k = static_cast<double>(report.psd_v[k]);
        const double psd_i_k = static_cast<double>(report.psd_i[k]);
        const std::size_t room = BlockWriter::capacity - out.used;
        const int length = std::snprintf(
            out.block + out.used, room, "%14.6e\t%14.6e\t%14.6e\t%14.6e\n",
            static_cast<double>(k) * bin_width, psd_v_k, psd_i_k, std::sqrt(psd_v_k / psd_i_k));
        if (length < 0 || static_cast<std::size_t>(length) >= room) return false;
        out.used += static_cast<std::size_t>(length);
    }
    return flush(out);
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

// Creates a new, empty file with a name like ".<name>.Ab12Cd" in the folder of target and gives
// its descriptor and name, or -1. It is created with mode 0666 under the umask (and any default
// access list of the folder), exactly as a plain creation of the report would be.
int create_temporary(const std::string& target, std::string& temporary) {
    const std::string folder = folder_of(target);
    const std::string name = target.substr(folder.size(), 64);
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Only uniqueness matters: O_EXCL settles collisions, so a weak, clock-free mix of the process
    // id, a call counter and a stack address is enough to spread the names.
    static std::uint64_t calls = 0;
    std::uint64_t seed = (static_cast<std::uint64_t>(::getpid()) << 32) ^ ++calls ^
                         reinterpret_cast<std::uintptr_t>(&temporary);
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed += 0x9e3779b97f4a7c15ULL;  // splitmix64
        std::uint64_t bits = seed;
        bits = (bits ^ (bits >> 30)) * 0xbf58476d1ce4e5b9ULL;
        bits = (bits ^ (bits >> 27)) * 0x94d049bb133111ebULL;
        bits ^= bits >> 31;
        std::string suffix(6, 'A');
        for (char& c : suffix) {
            c = letters[bits % 62];
            bits /= 62;
        }
        temporary = folder + "." + name + "." + suffix;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Makes sure a completed rename survives a crash; a folder that cannot be synced changes nothing
// about the report itself, so failures here are ignored.
void sync_folder(const std::string& target) {
    const std::string folder = folder_of(target);
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes the report into a temporary file beside target and renames it over target once it is
// complete and on disk. existing describes target when it is already a regular file, whose owner
// and mode the new file keeps, as rewriting the file in place would.
ReportStatus replace_file(const std::string& target, const struct stat* existing,
                          const Report& report) {
    if (target.empty() || target.back() == '/') return ReportStatus::cannot_create;
    // Renaming would succeed over a file that may not be written, so ask first, as opening the
    // file for writing would.
    if (existing && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        return ReportStatus::cannot_create;
    }
    std::string temporary;
    const int fd = create_temporary(target, temporary);
    if (fd < 0) return ReportStatus::cannot_create;

    ReportStatus status = ReportStatus::written;
    if (existing) {
        // The owner first: changing it clears set-id bits that the mode then restores. Keeping
        // the owner needs privileges that a user replacing their own file does not need, so a
        // refusal is not a failure.
        struct stat created;
        if (::fstat(fd, &created) == 0 &&
            (created.st_uid != existing->st_uid || created.st_gid != existing->st_gid)) {
            if (::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
                // best effort only
            }
        }
        if (::fchmod(fd, existing->st_mode & 07777) != 0) status = ReportStatus::cannot_create;
    }
    if (status == ReportStatus::written && !write_content(fd, report))
        status = ReportStatus::write_failed;
    // A file system without fsync support reports EINVAL; there is nothing more to flush then.
    if (status == ReportStatus::written && ::fsync(fd) != 0 && errno != EINVAL) {
        status = ReportStatus::write_failed;
    }
    if (!close_checked(fd) && status == ReportStatus::written) status = ReportStatus::write_failed;
    if (status == ReportStatus::written && ::rename(temporary.c_str(), target.c_str()) != 0) {
        status = ReportStatus::cannot_create;
    }
    if (status != ReportStatus::written) {
        ::unlink(temporary.c_str());
        return status;
    }
    sync_folder(target);
    return ReportStatus::written;
}

// Writes the report straight into an existing file that must not be replaced: a device, a named
// pipe, or a regular file reached through a link that does not name it (/proc/self/fd/...).
ReportStatus write_in_place(const char* output_file, const Report& report) {
    const int fd = ::open(output_file, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return ReportStatus::cannot_create;
    const bool written = write_content(fd, report);
    const bool closed = close_checked(fd);
    return written && closed ? ReportStatus::written : ReportStatus::write_failed;
}

}  // namespace

ReportStatus write_report(const char* output_file, const char* data_file, std::int32_t hanning,
                          std::int32_t nb_section, std::int32_t nbpoint_section, float deltat,
                          const float* psd_v, const float* psd_i) {
    const Report report{data_file, hanning, nb_section, nbpoint_section, deltat, psd_v, psd_i};
    const std::string name = output_file;
    if (name.empty()) return ReportStatus::cannot_create;

    struct stat info;
    if (::stat(output_file, &info) != 0) {
        // Nothing of that name yet, or a link to nothing: create the file at the end of the chain.
        std::string target;
        if (errno != ENOENT || !resolve_links(name, target)) return ReportStatus::cannot_create;
        return replace_file(target, nullptr, report);
    }
    if (S_ISDIR(info.st_mode)) return ReportStatus::cannot_create;
    if (!S_ISREG(info.st_mode)) return write_in_place(output_file, report);

    // A regular file, perhaps behind links: the file itself is replaced and the links are kept.
    // A chain that does not lead to that very file (the text of /proc/self/fd links, say) cannot
    // be renamed over, so such a file is rewritten where it is.
    std::string target;
    struct stat target_info;
    if (!resolve_links(name, target) || ::lstat(target.c_str(), &target_info) != 0 ||
        target_info.st_dev != info.st_dev || target_info.st_ino != info.st_ino) {
        return write_in_place(output_file, report);
    }
    return replace_file(target, &info, report);
}
