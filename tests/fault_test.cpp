// Fault injection on the built psd: a disk that fills up or a file size limit, a report name that
// is a device, a folder or a named pipe, a sample file or configuration that opens but cannot be
// read, standard input closed during the pause, standard output that nobody reads.
// Each failing run must end with its message and status 1, leave an earlier report byte for byte
// and leave no temporary file in the report's folder.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

#include "test_support.h"

using namespace psd;

namespace {

const std::string earlier_report = "an earlier report, which a failed run must keep\n1 2 3 4\n";
const std::string eight_samples = "0 1 1\n1 2 1\n2 3 1\n3 4 3\n4 1 1\n5 2 1\n6 3 1\n7 4 3\n";

// A folder holding config_psd.txt, the sample file d.txt and an earlier report r.txt.
struct RunFolder {
    TempDir dir;
    explicit RunFolder(const std::string& config) {
        write_file(dir.file("config_psd.txt"), config);
        write_file(dir.file("d.txt"), eight_samples);
        write_file(dir.file("r.txt"), earlier_report);
    }
};

// The common ending of every failing run: its message, status 1, no hang, and the folder as it was
// (the earlier report byte for byte, no temporary file beside it).
void expect_clean_failure(const Outcome& outcome, const std::string& console,
                          const RunFolder& folder, const std::set<std::string>& before) {
    EXPECT_FALSE(outcome.hung);
    EXPECT_EQ(outcome.run.console, console);
    EXPECT_EQ(outcome.run.exit_status, 1);
    EXPECT_EQ(read_file(folder.dir.file("r.txt")), earlier_report);
    EXPECT_EQ(folder_entries(folder.dir.path()), before);
}
#ifndef _WIN32

bool character_device(const std::string& path, dev_t* rdev) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    *rdev = info.st_rdev;
    return true;
}

std::set<std::string> temporaries_of(const std::string& folder, const std::string& name) {
    std::set<std::string> found;
    for (const std::string& entry : folder_entries(folder)) {
        if (entry != name && entry.find(name) != std::string::npos) found.insert(entry);
    }
    return found;
}
#endif

}  // namespace

TEST(FaultInjection, AReportNameThatIsAFolderOrInAMissingFolderCannotBeCreated) {
    {
        RunFolder folder("d.txt 0 1 4 sub\n");
        std::filesystem::create_directory(folder.dir.file("sub"));
        write_file(folder.dir.file("sub/kept.txt"), "kept");
        const std::set<std::string> before = folder_entries(folder.dir.path());
        const Outcome outcome = run_psd_as(folder.dir.path(), {});
        expect_clean_failure(outcome, cannot_create("sub"), folder, before);
        EXPECT_EQ(folder_entries(folder.dir.file("sub")), std::set<std::string>{"kept.txt"});
        EXPECT_EQ(read_file(folder.dir.file("sub/kept.txt")), "kept");
    }
    {
        RunFolder folder("d.txt 0 1 4 missing/r.txt\n");
        const std::set<std::string> before = folder_entries(folder.dir.path());
        const Outcome outcome = run_psd_as(folder.dir.path(), {});
        expect_clean_failure(outcome, cannot_create("missing/r.txt"), folder, before);
    }
}

TEST(FaultInjection, ThePauseEndsAtOnceWhenStandardInputIsClosedOrAtItsEnd) {
    for (const bool closed : {true, false}) {
        SCOPED_TRACE(closed ? "standard input closed" : "standard input at its end");
        RunFolder folder("d.txt 0 3 4 r.txt\n");  // 12 samples wanted, 8 there
        const std::set<std::string> before = folder_entries(folder.dir.path());
        Launch launch;
        launch.close_stdin = closed;
        const Outcome outcome = run_psd_as(folder.dir.path(), launch);
        expect_clean_failure(outcome,
                             too_few_points("d.txt has 8 samples; 3 sections of 4 points need 12. "
                                            "At most 2 sections of 4 points fit."),
                             folder, before);
    }
}

#ifndef _WIN32

TEST(FaultInjection, AReportNamedDevFullFailsAndLeavesTheDeviceAsItWas) {
    // First a private twin of /dev/full, so that a writer that replaced devices would replace
    // only the twin; the system's /dev/full is tried only once the twin has survived.
    RunFolder twin_folder("d.txt 0 1 4 full\n");
    const bool twin =
        mknod(twin_folder.dir.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    if (twin) {
        const std::set<std::string> before = folder_entries(twin_folder.dir.path());
        const Outcome outcome = run_psd_as(twin_folder.dir.path(), {});
        expect_clean_failure(outcome, write_failed("full"), twin_folder, before);
        dev_t rdev = 0;
        ASSERT_TRUE(character_device(twin_folder.dir.file("full"), &rdev));
        ASSERT_EQ(rdev, makedev(1, 7));
    }

    dev_t rdev_before = 0;
    if (!character_device("/dev/full", &rdev_before)) GTEST_SKIP() << "no /dev/full here";
    const std::set<std::string> dev_before = temporaries_of("/dev", "full");
    RunFolder folder("d.txt 0 1 4 /dev/full\n");
    const std::set<std::string> before = folder_entries(folder.dir.path());
    const Outcome outcome = run_psd_as(folder.dir.path(), {});
    expect_clean_failure(outcome, write_failed("/dev/full"), folder, before);
    dev_t rdev_after = 0;
    EXPECT_TRUE(character_device("/dev/full", &rdev_after));
    EXPECT_EQ(rdev_after, rdev_before);
    EXPECT_EQ(temporaries_of("/dev", "full"), dev_before);
}

TEST(FaultInjection, ADiskFillingUpOrAFileSizeLimitDuringTheReportKeepsTheEarlierReport) {
    // A file size limit of a few bytes makes the report's writes fail with EFBIG part way, as a
    // full disk does; the earlier report must survive and the partial file must go. A shell's
    // "ulimit -f" leaves SIGXFSZ at its default action, which would kill psd at the first write
    // past the limit, with no message and its temporary file left behind.
#ifdef PSD_TSAN
    GTEST_SKIP() << "the thread sanitizer's runtime writes past the limit before main";
#endif
    for (const bool file_size_signal : {false, true}) {
        for (const unsigned long long limit : {0ull, 10ull, 200ull}) {
            RunFolder folder("d.txt 1 2 4 r.txt\n");
            const std::set<std::string> before = folder_entries(folder.dir.path());
            Launch launch;
            launch.file_size_limit = limit;
            launch.file_size_signal = file_size_signal;
            const Outcome outcome = run_psd_as(folder.dir.path(), launch);
            ASSERT_FALSE(outcome.refused);
            SCOPED_TRACE("file size limit " + std::to_string(limit) +
                         (file_size_signal ? ", SIGXFSZ at its default" : ", SIGXFSZ ignored"));
            EXPECT_EQ(outcome.signal, 0);
            expect_clean_failure(outcome, write_failed("r.txt"), folder, before);
        }
    }
}

// The failure message goes to a pipe that nobody reads: the write fails, and the run must still
// end with status 1 rather than be killed by SIGPIPE (status 141 in a shell).
TEST(FaultInjection, AStandardOutputThatNobodyReadsLeavesTheFailureStatusAtOne) {
    RunFolder folder("d.txt 0 3 4 r.txt\n");  // 12 samples wanted, 8 there
    const std::set<std::string> before = folder_entries(folder.dir.path());
    Launch launch;
    launch.stdout_unread = true;
    launch.deadline_seconds = 20;
    const Outcome outcome = run_psd_as(folder.dir.path(), launch);
    ASSERT_FALSE(outcome.refused);
    EXPECT_EQ(outcome.signal, 0);
    expect_clean_failure(outcome, "", folder, before);
}

// fopen of a named pipe waits until a program opens it for writing: with none, psd hung before any
// check could run. Each name below is a pipe that no program writes; the run must end at once.
TEST(FaultInjection, ANamedPipeAsConfigurationOrSampleFileEndsAtOnceWithTheReadMessage) {
    const std::string config_unreadable =
        "\nThe file config_psd.txt could not be read. Check that it is a readable text file.\n" +
        click;
    const struct {
        const char* pipe;
        std::string console;
    } cases[] = {
        {"config_psd.txt", config_unreadable},
        {"d.txt", unreadable("d.txt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pipe);
        RunFolder folder("d.txt 0 1 4 r.txt\n");
        ASSERT_EQ(std::remove(folder.dir.file(c.pipe).c_str()), 0);
        ASSERT_EQ(mkfifo(folder.dir.file(c.pipe).c_str(), 0600), 0);
        const std::set<std::string> before = folder_entries(folder.dir.path());
        Launch launch;
        launch.deadline_seconds = 20;
        expect_clean_failure(run_psd_as(folder.dir.path(), launch), c.console, folder, before);
    }
    // A device: /dev/null reads as an empty file, which is no configuration either.
    RunFolder folder("d.txt 0 1 4 r.txt\n");
    ASSERT_EQ(std::remove(folder.dir.file("config_psd.txt").c_str()), 0);
    std::filesystem::create_symlink("/dev/null", folder.dir.file("config_psd.txt"));
    const std::set<std::string> before = folder_entries(folder.dir.path());
    expect_clean_failure(run_psd_as(folder.dir.path(), {}), config_unreadable, folder, before);
}

// Opening a named pipe for writing waits for a reader: with none, psd hung after the whole
// analysis. It must say so instead, and leave the pipe a pipe.
TEST(FaultInjection, AReportNamedPipeThatNoProgramReadsEndsAtOnceWithAMessage) {
    RunFolder folder("d.txt 0 1 4 r.fifo\n");
    ASSERT_EQ(mkfifo(folder.dir.file("r.fifo").c_str(), 0600), 0);
    const std::set<std::string> before = folder_entries(folder.dir.path());
    Launch launch;
    launch.deadline_seconds = 20;
    const Outcome outcome = run_psd_as(folder.dir.path(), launch);
    const std::string message = cannot_create("r.fifo");
    expect_clean_failure(outcome,
                         message.substr(0, message.size() - click.size()) +
                             "It is a named pipe that no program reads: start the program that "
                             "reads it first, or change output_file in config_psd.txt.\n" +
                             click,
                         folder, before);
    struct stat info;
    ASSERT_EQ(lstat(folder.dir.file("r.fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A program that reads the pipe gets the whole report through it, as from a file.
TEST(FaultInjection, AReportNamedPipeWithAReaderReceivesTheWholeReport) {
    TempDir dir;
    write_run_files(dir, "samples.txt 0 1 4 r.fifo\n", worked_samples);
    ASSERT_EQ(mkfifo(dir.file("r.fifo").c_str(), 0600), 0);
    // Opened before psd runs, so that psd finds a reader; poll waits until a writer has come and
    // gone before it reports the end of the pipe.
    const int reader = open(dir.file("r.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::string received;
    std::thread reading([&] {
        pollfd waiting{reader, POLLIN, 0};
        char buffer[4096];
        while (poll(&waiting, 1, 20000) > 0) {
            const ssize_t got = read(reader, buffer, sizeof buffer);
            if (got < 0 && errno == EAGAIN) continue;
            if (got <= 0) break;
            received.append(buffer, static_cast<std::size_t>(got));
        }
    });
    Launch launch;
    launch.deadline_seconds = 20;
    const Outcome outcome = run_psd_as(dir.path(), launch);
    reading.join();
    close(reader);
    EXPECT_FALSE(outcome.hung);
    EXPECT_EQ(outcome.run.exit_status, 0);
    EXPECT_EQ(outcome.run.console, "");
    EXPECT_EQ(received, worked_report);
}

TEST(FaultInjection, ASampleFileThatOpensButCannotBeReadEndsWithTheReadMessage) {
    {
        RunFolder folder("folder 0 1 4 r.txt\n");
        std::filesystem::create_directory(folder.dir.file("folder"));
        const std::set<std::string> before = folder_entries(folder.dir.path());
        const Outcome outcome = run_psd_as(folder.dir.path(), {});
        expect_clean_failure(outcome, unreadable("folder"), folder, before);
    }
    // A process may open its own memory, but reading at offset 0 (never mapped) fails with EIO:
    // an honest read error that needs no privileges to arrange and that root cannot bypass.
    const int probe = open("/proc/self/mem", O_RDONLY);
    if (probe < 0) GTEST_SKIP() << "no /proc/self/mem here";
    char byte;
    const ssize_t got = read(probe, &byte, 1);
    const int read_errno = errno;
    close(probe);
    if (got >= 0 || read_errno != EIO) GTEST_SKIP() << "/proc/self/mem reads at 0 here";
    RunFolder folder("/proc/self/mem 0 1 4 r.txt\n");
    const std::set<std::string> before = folder_entries(folder.dir.path());
    const Outcome outcome = run_psd_as(folder.dir.path(), {});
    expect_clean_failure(outcome, unreadable("/proc/self/mem"), folder, before);
}

TEST(FaultInjection, ASampleFileThatMayNotBeOpenedEndsWithTheOpenMessage) {
    // Root reads every file whatever its mode, so the child gives up root after entering the
    // folder; the sample file is then closed to it by its mode alone.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    RunFolder folder("d.txt 0 1 4 r.txt\n");
    ASSERT_EQ(chmod(folder.dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.dir.file("config_psd.txt").c_str(), 0644), 0);
    ASSERT_EQ(chmod(folder.dir.file("d.txt").c_str(), 0), 0);
    const std::set<std::string> before = folder_entries(folder.dir.path());
    Launch launch;
    launch.as_nobody = true;
    const Outcome outcome = run_psd_as(folder.dir.path(), launch);
    if (outcome.refused) GTEST_SKIP() << "cannot run psd as user 65534 in " << folder.dir.path();
    expect_clean_failure(outcome,
                         "\nThe file d.txt does not exist in the current directory.\n" + click,
                         folder, before);
}

// The probe reads a sample file twice and rewinds it in between, which a pipe cannot do: the
// rewind failed unnoticed, the count came from what the first read left over and the loader found
// nothing, so a named pipe carrying more than one read block (1 MiB) gave status 0 and a report of
// zero densities. A sample file must be a regular file, or the run must end with a message.
TEST(FaultInjection, ASampleFileThatIsAPipeEndsWithAMessageInsteadOfAWrongReport) {
    std::string lines;
    for (int j = 0; lines.size() < (std::size_t{3} << 20); ++j)
        lines +=
            std::to_string(j) + " " + std::to_string(j % 13) + " " + std::to_string(j % 7) + "\n";
    for (const std::size_t size : {std::size_t{4000}, lines.size()}) {
        SCOPED_TRACE(std::to_string(size) + " bytes through the pipe");
        RunFolder folder("d.fifo 0 2 64 r.txt\n");
        ASSERT_EQ(mkfifo(folder.dir.file("d.fifo").c_str(), 0600), 0);
        const pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            signal(SIGPIPE, SIG_DFL);
            const int fd = open(folder.dir.file("d.fifo").c_str(), O_WRONLY);
            for (std::size_t done = 0; fd >= 0 && done < size;) {
                const ssize_t wrote = write(fd, lines.data() + done, size - done);
                if (wrote <= 0) break;
                done += static_cast<std::size_t>(wrote);
            }
            _exit(0);
        }
        const std::set<std::string> before = folder_entries(folder.dir.path());
        Launch launch;
        launch.deadline_seconds = 30;
        const Outcome outcome = run_psd_as(folder.dir.path(), launch);
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        EXPECT_FALSE(outcome.hung);
        EXPECT_EQ(outcome.run.exit_status, 1);
        EXPECT_EQ(outcome.run.console.substr(0, 1), "\n");
        EXPECT_EQ(read_file(folder.dir.file("r.txt")), earlier_report);
        EXPECT_EQ(folder_entries(folder.dir.path()), before);
    }
}

// A sample file name that is an endless device: the probe waits for a line feed that never comes
// in /dev/zero (and counts for hours in /dev/urandom). The run must end promptly with a message.
TEST(FaultInjection, AnEndlessDeviceAsSampleFileEndsPromptlyWithAMessage) {
    for (const char* device : {"/dev/zero", "/dev/urandom"}) {
        SCOPED_TRACE(device);
        RunFolder folder(std::string(device) + " 0 1 4 r.txt\n");
        const std::set<std::string> before = folder_entries(folder.dir.path());
        Launch launch;
        launch.deadline_seconds = 30;
        const Outcome outcome = run_psd_as(folder.dir.path(), launch);
        EXPECT_FALSE(outcome.hung);
        EXPECT_EQ(outcome.run.exit_status, 1);
        EXPECT_EQ(outcome.run.console.substr(0, 1), "\n");
        EXPECT_EQ(read_file(folder.dir.file("r.txt")), earlier_report);
        EXPECT_EQ(folder_entries(folder.dir.path()), before);
    }
}
#endif  // POSIX

#ifdef _WIN32

// A spreadsheet showing a report holds it open without sharing: the report can then be neither
// written nor replaced, and the message must say what to do about it.
TEST(FaultInjection, AReportHeldOpenWithoutSharingKeepsTheEarlierReportAndSaysToCloseIt) {
    RunFolder folder("d.txt 0 1 4 r.txt\n");
    const std::set<std::string> before = folder_entries(folder.dir.path());
    const HANDLE held = CreateFileA(folder.dir.file("r.txt").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const Outcome outcome = run_psd_as(folder.dir.path(), {});
    CloseHandle(held);
    const std::string message = cannot_create("r.txt");
    expect_clean_failure(outcome,
                         message.substr(0, message.size() - click.size()) +
                             "Another program holds it open: close it there, then run psd "
                             "again.\n" +
                             click,
                         folder, before);
}

TEST(FaultInjection, AReadOnlyReportCannotBeCreatedAndIsKept) {
    RunFolder folder("d.txt 0 1 4 r.txt\n");
    ASSERT_TRUE(SetFileAttributesA(folder.dir.file("r.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::set<std::string> before = folder_entries(folder.dir.path());
    const Outcome outcome = run_psd_as(folder.dir.path(), {});
    expect_clean_failure(outcome, cannot_create("r.txt"), folder, before);
    SetFileAttributesA(folder.dir.file("r.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FaultInjection, AReportNamedNulIsWrittenIntoTheDeviceAndCreatesNoFile) {
    for (const char* device : {"NUL", "nul"}) {
        RunFolder folder(std::string("d.txt 0 1 4 ") + device + "\n");
        const std::set<std::string> before = folder_entries(folder.dir.path());
        const Outcome outcome = run_psd_as(folder.dir.path(), {});
        EXPECT_EQ(outcome.run.console, "") << device;
        EXPECT_EQ(outcome.run.exit_status, 0) << device;
        EXPECT_EQ(folder_entries(folder.dir.path()), before) << device;
    }
}

#endif  // _WIN32
