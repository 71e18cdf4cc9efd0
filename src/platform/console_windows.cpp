#include <conio.h>
#include <windows.h>

#include "platform/console.h"

namespace psd {

namespace {

// A console handle, as opposed to a file, a pipe or the NUL device (for which _isatty is also
// true, so it cannot tell a console from "psd < NUL").
bool is_console(DWORD which) {
    DWORD mode = 0;
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

bool console_is_interactive() {
    return is_console(STD_INPUT_HANDLE) && is_console(STD_OUTPUT_HANDLE);
}

void wait_for_one_key() {
    // _getch reads one key straight from the console, without echo and without waiting for
    // Enter; the console's own mode is left as it was.
    _getch();
}

}  // namespace psd
