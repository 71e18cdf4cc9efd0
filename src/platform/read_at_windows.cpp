#include "platform/read_at.h"

#include <io.h>
#include <windows.h>

namespace psd {

namespace {

HANDLE handle_of(std::FILE* file) {
    const int descriptor = _fileno(file);
    if (descriptor < 0) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

}  // namespace

bool can_read_at(std::FILE* file) {
    return handle_of(file) != INVALID_HANDLE_VALUE;
}

std::int64_t stream_position(std::FILE* file) {
    return static_cast<std::int64_t>(_ftelli64(file));
}

std::int64_t read_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size) {
    const HANDLE handle = handle_of(file);
    std::size_t done = 0;
    while (done < size) {
        // ReadFile with an offset on a handle opened for synchronous reads reads there and
        // waits; each call carries its own offset, so threads do not disturb one another. It
        // also moves the handle's file pointer past what it read, which the header allows for.
        OVERLAPPED at = {};
        const std::uint64_t where = offset + done;
        at.Offset = static_cast<DWORD>(where & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const std::size_t left = size - done;
        const DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(handle, buffer + done, want, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace psd
