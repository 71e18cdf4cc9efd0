#include <signal.h>
#include <unistd.h>

#include "internal/temporary_file.h"
#include "platform/signals.h"

namespace psd {

namespace {

// The signals that end a process by default and that a user or a system sends to stop a run.
constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t interrupting_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : interrupting_signals)
        sigaddset(&set, signal_number);
    return set;
}

// Removes the temporary file under way, then lets the signal end the process as it would have,
// so that a shell sees 128 + its number. unlink, signal and raise are async-signal-safe; the
// signal, blocked while its handler runs, arrives again as soon as the handler returns.
extern "C" void remove_temporary_and_reraise(int signal_number) {
    if (const char* name = held_temporary()) static_cast<void>(::unlink(name));
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

}  // namespace

InterruptionsHeld::InterruptionsHeld() {
    const sigset_t set = interrupting_set();
    ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

InterruptionsHeld::~InterruptionsHeld() {
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

void set_up_signals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = remove_temporary_and_reraise;
    // One handler at a time: a second signal waits until the first has removed the file.
    action.sa_mask = interrupting_set();
    for (const int signal_number : interrupting_signals) {
        struct sigaction previous;
        if (::sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal_number, &action, nullptr);
    }
}

}  // namespace psd
