#include <windows.h>

#include "internal/temporary_file.h"

namespace psd {

std::uint64_t this_process() {
    return GetCurrentProcessId();
}

std::string raw_host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return std::string();
    return std::string(name, size);
}

bool process_is_gone(std::uint64_t process) {
    if (process == 0 || process > MAXDWORD) return false;
    const HANDLE handle =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process));
    if (handle != nullptr) {
        CloseHandle(handle);
        return false;
    }
    // Access denied says that the process lives under another user.
    return GetLastError() == ERROR_INVALID_PARAMETER;
}

std::vector<std::string> folder_names(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.emplace_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

void remove_file(const std::string& path) {
    DeleteFileA(path.c_str());
}

}  // namespace psd
