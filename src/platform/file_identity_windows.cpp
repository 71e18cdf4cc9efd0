#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/file_identity.h"

namespace psd {

namespace {

// The volume and the file index name one file on Windows, as device and inode do on POSIX; they
// see through hard links and through different spellings of one name.
bool identify(const char* name, BY_HANDLE_FILE_INFORMATION* info) {
    // No access asked for and every sharing mode granted: even a file another program holds
    // open can be identified. Backup semantics let a folder be opened too.
    const HANDLE handle =
        CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, info) != 0;
    CloseHandle(handle);
    return known;
}

// Windows names ignore case and take either slash; this compares ASCII letters without case.
bool same_name(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x == '/') x = '\\';
        if (y == '/') y = '\\';
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

}  // namespace

bool is_regular_file(std::FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool same_file(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION info_a;
    BY_HANDLE_FILE_INFORMATION info_b;
    if (identify(a, &info_a) && identify(b, &info_b))
        return info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
               info_a.nFileIndexHigh == info_b.nFileIndexHigh &&
               info_a.nFileIndexLow == info_b.nFileIndexLow;
    return same_name(a, b);
}

bool is_enterable_folder(const char* name) {
    const DWORD attributes = GetFileAttributesA(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace psd
