#include <windows.h>

#include "internal/temporary_file.h"
#include "platform/signals.h"

namespace psd {

namespace {

// Taken for a temporary file's creation or rename, and by the console handler, which runs in a
// thread of its own and so waits for such a step to end.
SRWLOCK step = SRWLOCK_INIT;

// Ctrl-C, Ctrl-Break, the console window closed, the user logging off or the system shutting
// down: the temporary file under way is deleted (it was created sharing deletion, so this works
// while it is open, and it goes when the ending process closes it), then the next handler, the
// system's, ends the process as it would have.
BOOL WINAPI remove_temporary_on_close(DWORD event) {
    static_cast<void>(event);
    AcquireSRWLockExclusive(&step);
    if (const char* name = held_temporary()) DeleteFileA(name);
    release_temporary();
    ReleaseSRWLockExclusive(&step);
    return FALSE;
}

}  // namespace

InterruptionsHeld::InterruptionsHeld() {
    AcquireSRWLockExclusive(&step);
}

InterruptionsHeld::~InterruptionsHeld() {
    ReleaseSRWLockExclusive(&step);
}

void set_up_signals() {
    SetConsoleCtrlHandler(remove_temporary_on_close, TRUE);
}

}  // namespace psd
