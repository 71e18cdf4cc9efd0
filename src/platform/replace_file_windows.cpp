#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "internal/file_sink.h"
#include "internal/temporary_file.h"
#include "platform/replace_file.h"

namespace psd {

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool write_content_to(HANDLE handle, ContentWriter write_content, const void* content) {
    FileSink sink;
    sink.handle = reinterpret_cast<std::intptr_t>(handle);
    sink.crlf = true;
    return write_content(sink, content) && flush(sink);
}

// Whether the last error says that another program holds the file open without sharing it.
bool held_by_another_program(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// "dir\sub/name" -> "dir\sub/", "C:name" -> "C:", "name" -> "".
std::string folder_of(const std::string& path) {
    const std::size_t end = path.find_last_of("/\\:");
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// Creates a new, empty file with a temporary name (internal/temporary_file.h) in the folder of
// target and gives its handle and name, or INVALID_HANDLE_VALUE with the last error set; the
// leftovers of runs killed there go first. Deletion is shared so that the console handler can
// delete the file while it is being written (platform/signals.h).
HANDLE create_temporary(const std::string& target, std::string& temporary) {
    const std::string folder = folder_of(target);
    remove_leftovers(folder);
    TemporaryNames names(folder, target.substr(folder.size()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = names.next();
        const InterruptionsHeld held;
        const HANDLE handle = CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE) {
            hold_temporary(temporary.c_str());
            return handle;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            SetLastError(error);
            return handle;
        }
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the content straight into the open file: a device such as NUL or CON, or a file that is
// not to be replaced, which is emptied first as opening it for writing would.
ReplaceStatus write_in_place(HANDLE handle, ContentWriter write_content, const void* content) {
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    LARGE_INTEGER start{};
    bool written =
        !disk || (SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle));
    written = written && write_content_to(handle, write_content, content);
    if (written && disk && !FlushFileBuffers(handle)) written = false;
    const bool closed = CloseHandle(handle) != 0;
    return written && closed ? ReplaceStatus::written : ReplaceStatus::write_failed;
}

// Puts the complete temporary file in the place of target. An existing target is replaced with
// ReplaceFile, which keeps its attributes and access list as rewriting it would; where that is
// not possible (a file system without support for it) a rename over it is tried.
ReplaceStatus put_in_place(const std::string& temporary, const std::string& target, bool existed) {
    if (existed && ReplaceFileA(target.c_str(), temporary.c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                nullptr, nullptr)) {
        return ReplaceStatus::written;
    }
    if (MoveFileExA(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return ReplaceStatus::written;
    }
    const DWORD error = GetLastError();
    return held_by_another_program(error) || error == ERROR_ACCESS_DENIED
               ? (existed ? ReplaceStatus::held_open : ReplaceStatus::cannot_create)
               : ReplaceStatus::cannot_create;
}

}  // namespace

bool write_all(std::intptr_t handle, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle), data, chunk, &done, nullptr) || done == 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

ReplaceStatus replace_file(const char* name, ContentWriter write_content, const void* content) {
    const std::string target = name;
    if (target.empty()) return ReplaceStatus::cannot_create;

    // Opening the file for writing, with every sharing mode granted, asks what a plain open would
    // ask: whether it may be written (not read-only, not a folder) and whether another program
    // holds it without sharing. A spreadsheet holds the files it shows that way.
    // A read-only file may not be written, though the open might succeed where the rule is
    // only emulated (Wine run by root).
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return ReplaceStatus::cannot_create;
    HANDLE existing = CreateFileA(name, GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (held_by_another_program(error)) return ReplaceStatus::held_open;
        if (error != ERROR_FILE_NOT_FOUND) return ReplaceStatus::cannot_create;
    } else {
        // Devices are written into, never replaced; so is a file with other hard links, which a
        // replacement would leave on the earlier content.
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(existing) != FILE_TYPE_DISK ||
            (GetFileInformationByHandle(existing, &info) && info.nNumberOfLinks > 1)) {
            return write_in_place(existing, write_content, content);
        }
    }

    std::string temporary;
    const HANDLE handle = create_temporary(target, temporary);
    if (handle == INVALID_HANDLE_VALUE) {
        // A file that may be written in a folder that may not: rewritten where it is, as a plain
        // open for writing would.
        if (existing != INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
            return write_in_place(existing, write_content, content);
        if (existing != INVALID_HANDLE_VALUE) CloseHandle(existing);
        return ReplaceStatus::cannot_create;
    }
    const bool existed = existing != INVALID_HANDLE_VALUE;
    if (existed) CloseHandle(existing);

    ReplaceStatus status = ReplaceStatus::written;
    if (!write_content_to(handle, write_content, content) || !FlushFileBuffers(handle))
        status = ReplaceStatus::write_failed;
    if (!CloseHandle(handle) && status == ReplaceStatus::written)
        status = ReplaceStatus::write_failed;
    const InterruptionsHeld held;
    if (status == ReplaceStatus::written) status = put_in_place(temporary, target, existed);
    if (status != ReplaceStatus::written) DeleteFileA(temporary.c_str());
    release_temporary();
    return status;
}

}  // namespace psd
