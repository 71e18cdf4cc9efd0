#include "platform/read_at.h"

#include <io.h>
#include <windows.h>

#include "internal/read_some_at.h"

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

std::int64_t read_some_at(std::FILE* file, std::uint64_t offset, char* buffer, std::size_t size) {
    // ReadFile with an offset on a handle opened for synchronous reads reads there and waits;
    // each call carries its own offset, so threads do not disturb one another. It also moves the
    // handle's file pointer past what it read, which the header allows for.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(handle_of(file), buffer, want, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<std::int64_t>(got);
}

}  // namespace psd
