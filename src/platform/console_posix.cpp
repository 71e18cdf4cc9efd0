#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.h"

namespace psd {

namespace {

// The terminal's settings before the wait, for the signal handler to put back.
termios saved_settings;

// The signals that end a process by default and can arrive while it waits at a terminal.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Puts the terminal back as it was, then lets the signal end the process as it would have.
// tcsetattr, signal and raise are async-signal-safe.
extern "C" void restore_and_reraise(int signal_number) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

}  // namespace

bool console_is_interactive() {
    return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
}

void wait_for_one_key() {
    char key;
    if (::tcgetattr(STDIN_FILENO, &saved_settings) != 0) {
        // Not a terminal after all: a plain read of one byte is the best that can be done.
        while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
        }
        return;
    }
    struct sigaction restore = {};
    restore.sa_handler = restore_and_reraise;
    sigemptyset(&restore.sa_mask);
    struct sigaction previous[sizeof ending_signals / sizeof ending_signals[0]];
    for (std::size_t s = 0; s < sizeof ending_signals / sizeof ending_signals[0]; ++s)
        ::sigaction(ending_signals[s], &restore, &previous[s]);

    // Non-canonical: a read returns as soon as one byte is there, without waiting for a line
    // feed. Echo off, so the key pressed does not appear after the message.
    termios one_key = saved_settings;
    one_key.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    one_key.c_cc[VMIN] = 1;
    one_key.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &one_key) == 0) {
        while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
        }
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    }
    for (std::size_t s = 0; s < sizeof ending_signals / sizeof ending_signals[0]; ++s)
        ::sigaction(ending_signals[s], &previous[s], nullptr);
}

}  // namespace psd
