// The wait after a failure, with psd run at a pseudo-terminal as in a console window and with its
// output captured as in a script.
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "test_support.h"

using namespace psd;

namespace {

// What the terminal shows last before the wait (its line feed becomes CR LF there).
const std::string prompt = "Click on any key to exit";

bool canonical_with_echo(int terminal) {
    termios settings;
    return tcgetattr(terminal, &settings) == 0 && (settings.c_lflag & ICANON) != 0 &&
           (settings.c_lflag & ECHO) != 0;
}

// psd started in an empty folder (so it fails at once: no config_psd.txt), its standard input at
// the terminal's slave side and its standard output there too or in a pipe.
struct Child {
    pid_t pid = -1;
    int master = -1;  // the terminal's keyboard and screen
    int slave = -1;   // kept open here to read the terminal's settings after psd ends
    int pipe_out = -1;
    bool canonical_before = false;  // the terminal's settings before psd could change them
};

Child start_psd(const TempDir& dir, bool output_to_terminal) {
    Child child;
    if (openpty(&child.master, &child.slave, nullptr, nullptr, nullptr) != 0) return child;
    child.canonical_before = canonical_with_echo(child.slave);
    int out[2] = {-1, -1};
    if (!output_to_terminal && pipe(out) != 0) return child;
    child.pid = fork();
    if (child.pid == 0) {
        setsid();
        ioctl(child.slave, TIOCSCTTY, 0);
        dup2(child.slave, 0);
        dup2(output_to_terminal ? child.slave : out[1], 1);
        dup2(output_to_terminal ? child.slave : out[1], 2);
        if (chdir(dir.path().c_str()) != 0) _exit(125);
        execl(PSD_EXE, "psd", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (!output_to_terminal) {
        close(out[1]);
        child.pipe_out = out[0];
    }
    return child;
}

// Reads from fd until text has appeared or seconds have passed; gives what was read.
std::string read_until(int fd, const std::string& text, int seconds) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char buffer[512];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(got));
    }
    return seen;
}

// The child's wait status once it has ended, or -1 if it is still running after seconds.
int wait_status(pid_t pid, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void finish(Child& child) {
    if (wait_status(child.pid, 0) == -1) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
    }
    for (int fd : {child.master, child.slave, child.pipe_out})
        if (fd >= 0) close(fd);
}

}  // namespace

TEST(Console, AtATerminalTheFailureWaitsForOneKeyAndRestoresTheTerminal) {
    TempDir dir;
    Child child = start_psd(dir, true);
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(child.canonical_before);
    EXPECT_NE(read_until(child.master, prompt, 30).find(prompt), std::string::npos);
    EXPECT_EQ(wait_status(child.pid, 0.3), -1) << "psd did not wait for a key";
    // One key and no line feed: a read in canonical mode would still be waiting.
    ASSERT_EQ(write(child.master, "x", 1), 1);
    const int status = wait_status(child.pid, 30);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_TRUE(canonical_with_echo(child.slave));
    finish(child);
}

TEST(Console, ASignalDuringTheWaitStillRestoresTheTerminal) {
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        TempDir dir;
        Child child = start_psd(dir, true);
        ASSERT_GT(child.pid, 0);
        EXPECT_NE(read_until(child.master, prompt, 30).find(prompt), std::string::npos);
        EXPECT_EQ(wait_status(child.pid, 0.2), -1);
        kill(child.pid, signal_number);
        const int status = wait_status(child.pid, 30);
        EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
            << "signal " << signal_number << ", status " << status;
        EXPECT_TRUE(canonical_with_echo(child.slave)) << "signal " << signal_number;
        finish(child);
    }
}

TEST(Console, WithItsOutputCapturedTheFailureDoesNotWait) {
    // Standard input at the terminal, standard output in a pipe: a script capturing the output.
    TempDir dir;
    Child child = start_psd(dir, false);
    ASSERT_GT(child.pid, 0);
    const int status = wait_status(child.pid, 30);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(read_until(child.pipe_out, click, 5),
              "\nThe file config_psd.txt does not exist in  the current directory.\n" + click);
    EXPECT_TRUE(canonical_with_echo(child.slave));
    finish(child);
}

#endif  // POSIX
