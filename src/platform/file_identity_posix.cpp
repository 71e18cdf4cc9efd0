#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/file_identity.h"

namespace psd {

bool is_regular_file(std::FILE* stream) {
    struct stat info;
    return ::fstat(::fileno(stream), &info) == 0 && S_ISREG(info.st_mode);
}

bool same_file(const char* a, const char* b) {
    struct stat info_a;
    struct stat info_b;
    if (::stat(a, &info_a) == 0 && ::stat(b, &info_b) == 0)
        return info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
    return std::strcmp(a, b) == 0;
}

bool is_enterable_folder(const char* name) {
    struct stat info;
    return ::stat(name, &info) == 0 && S_ISDIR(info.st_mode) && ::access(name, X_OK) == 0;
}

}  // namespace psd
