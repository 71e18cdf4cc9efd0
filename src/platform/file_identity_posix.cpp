#include <sys/stat.h>

#include <cstring>

#include "platform/file_identity.h"

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
