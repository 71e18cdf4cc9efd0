// Replacing a file safely, called directly: where a file is written in place instead of being
// replaced, the Windows faults (a file held open, a read-only file, a folder, NUL), and the
// temporary file: its name, the removal of killed runs' leftovers, its removal on a signal.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "platform/internal/temporary_file.h"
#include "platform/replace_file.h"
#include "platform/signals.h"
#include "test_support.h"

using namespace psd;

namespace {

bool write_string(FileSink& sink, const void* content) {
    const std::string& text = *static_cast<const std::string*>(content);
    return append_text(sink, text.data(), text.size());
}

ReplaceStatus replace_with(const std::string& name, const std::string& text) {
    return replace_file(name.c_str(), write_string, &text);
}

const std::string report = "a new report\nof two lines\n";

std::uint64_t own_process_id() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<std::uint64_t>(getpid());
#endif
}

// A folder to look into while the content is written, and what was seen there beside the report.
struct Looking {
    std::string folder;
    std::set<std::string>* seen;
};

bool write_and_look(FileSink& sink, const void* content) {
    const Looking& looking = *static_cast<const Looking*>(content);
    *looking.seen = folder_entries(looking.folder);
    looking.seen->erase("r.txt");
    return append_text(sink, report.data(), report.size());
}

}  // namespace

TEST(TemporaryFile, IsNamedForThisProgramItsProcessAndItsMachine) {
    TempDir dir;
    write_file(dir.file("r.txt"), "earlier");
    std::set<std::string> seen;
    const Looking looking{dir.path(), &seen};
    ASSERT_EQ(replace_file(dir.file("r.txt").c_str(), write_and_look, &looking),
              ReplaceStatus::written);
    ASSERT_EQ(seen.size(), 1u);
    const std::string name = *seen.begin();
    const std::string host = this_host();
    ASSERT_TRUE(std::regex_match(host, std::regex("[A-Za-z0-9-]{1,32}"))) << host;
    EXPECT_TRUE(
        std::regex_match(name, std::regex("\\.r\\.txt\\.psd-" + std::to_string(own_process_id()) +
                                          "@" + host + "\\.[A-Za-z0-9]{6}")))
        << name;
    TemporaryOwner owner;
    ASSERT_TRUE(parse_temporary_name(name, &owner)) << name;
    EXPECT_EQ(owner.process, own_process_id());
    EXPECT_EQ(owner.host, host);
    EXPECT_EQ(read_file(dir.file("r.txt")), as_stored(report));
    EXPECT_EQ(folder_entries(dir.path()), std::set<std::string>{"r.txt"});
}

TEST(TemporaryFile, CarriesTheHostNameCutTo32LettersDigitsAndDashes) {
    const struct {
        std::string host, in_name;
    } cases[] = {
        {"node1", "node1"},
        {"node1.lab.example", "node1-lab-example"},
        {"a_b c@d", "a-b-c-d"},
        {"\xC3\xA9t\xC3\xA9", "--t--"},
        {std::string(40, 'x'), std::string(32, 'x')},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(host_in_name(c.host), c.in_name) << c.host;
}

TEST(TemporaryFile, OnlyANameOfExactlyTheTemporaryFormIsTakenForOne) {
    const struct {
        std::string name;
        bool taken;
        std::uint64_t process;
        std::string host;
    } cases[] = {
        {".r.txt.psd-123@host.Ab12Cd", true, 123, "host"},
        {".a.b@c.psd-9.psd-7@node-1.zzzzzz", true, 7, "node-1"},
        {"." + std::string(64, 'r') + ".psd-5@h.AAAAAA", true, 5, "h"},
        {"." + std::string(65, 'r') + ".psd-5@h.AAAAAA", false, 0, ""},
        {".r.txt.psd-123@host.Ab12C", false, 0, ""},
        {".r.txt.psd-123@host.Ab12Cde", false, 0, ""},
        {".r.txt.psd-123@host.Ab-2Cd", false, 0, ""},
        {"r.txt.psd-123@host.Ab12Cd", false, 0, ""},
        {".psd-123@host.Ab12Cd", false, 0, ""},
        {".r.txt.psd_123@host.Ab12Cd", false, 0, ""},
        {".r.txt.psd-0123@host.Ab12Cd", false, 0, ""},
        {".r.txt.psd-@host.Ab12Cd", false, 0, ""},
        {".r.txt.psd-99999999999999999999@host.Ab12Cd", false, 0, ""},
        {".r.txt.psd-123@.Ab12Cd", false, 0, ""},
        {".r.txt.psd-123@ho_st.Ab12Cd", false, 0, ""},
        {".r.txt.psd-123@" + std::string(33, 'h') + ".Ab12Cd", false, 0, ""},
        {".r.txt.Ab12Cd", false, 0, ""},
        {".r.txt.psd-123@host.Ab12Cd.txt", false, 0, ""},
    };
    for (const auto& c : cases) {
        TemporaryOwner owner;
        EXPECT_EQ(parse_temporary_name(c.name, &owner), c.taken) << c.name;
        if (c.taken) {
            EXPECT_EQ(owner.process, c.process) << c.name;
            EXPECT_EQ(owner.host, c.host) << c.name;
        }
    }
}

TEST(FileReplacement, StoresTheTextWithThePlatformsLineEndsAndLeavesNoTemporaryFile) {
    TempDir dir;
    write_file(dir.file("r.txt"), "earlier");
    EXPECT_EQ(replace_with(dir.file("r.txt"), report), ReplaceStatus::written);
    EXPECT_EQ(replace_with(dir.file("new.txt"), report), ReplaceStatus::written);
    EXPECT_EQ(read_file(dir.file("r.txt")), as_stored(report));
    EXPECT_EQ(read_file(dir.file("new.txt")), as_stored(report));
    EXPECT_EQ(folder_entries(dir.path()), (std::set<std::string>{"new.txt", "r.txt"}));
}

TEST(FileReplacement, WritesAFileWithSeveralHardLinksInPlaceSoEveryLinkSeesIt) {
    TempDir dir;
    write_file(dir.file("r.txt"), "earlier");
    std::filesystem::create_hard_link(dir.file("r.txt"), dir.file("second.txt"));
    EXPECT_EQ(replace_with(dir.file("r.txt"), report), ReplaceStatus::written);
    EXPECT_EQ(read_file(dir.file("r.txt")), as_stored(report));
    EXPECT_EQ(read_file(dir.file("second.txt")), as_stored(report));
#ifndef _WIN32  // MinGW's C runtime counts one link for every file
    EXPECT_EQ(std::filesystem::hard_link_count(dir.file("r.txt")), 2u);
#endif
    EXPECT_EQ(folder_entries(dir.path()), (std::set<std::string>{"r.txt", "second.txt"}));
}

#ifndef _WIN32

// A run killed outright (SIGKILL) cannot remove its temporary file; the next run in the folder
// removes it, but only what is surely a leftover: a file of a run that still lives, of another
// machine sharing the folder, or with a name merely like a temporary one stays.
TEST(TemporaryFile, TheNextRunRemovesTheLeftoversOfDeadRunsOfThisMachineOnly) {
    const pid_t dead = fork();
    ASSERT_GE(dead, 0);
    if (dead == 0) _exit(0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    const std::string host = this_host();
    auto temporary = [&](const std::string& report, long process, const std::string& machine) {
        return "." + report + ".psd-" + std::to_string(process) + "@" + machine + ".Ab12Cd";
    };
    const std::set<std::string> leftovers = {temporary("r.txt", dead, host),
                                             temporary("old.txt", dead, host)};
    const std::string dead_here = temporary("r.txt", dead, host);
    const std::set<std::string> kept = {
        temporary("r.txt", getpid(), host),  // a live run: this test's own process
        temporary("r.txt", getppid(), host),
        temporary("r.txt", dead, host + "-elsewhere"),  // another machine
        dead_here.substr(0, dead_here.size() - 1),      // five letters
        dead_here + "e",                                // seven letters
        dead_here.substr(1),                            // no leading dot
        temporary("r.txt", dead, host) + ".txt",
        ".r.txt.psd-0" + std::to_string(dead) + "@" + host + ".Ab12Cd",
        ".r.txt.psd_" + std::to_string(dead) + "@" + host + ".Ab12Cd",
    };
    TempDir dir;
    write_run_files(dir, "samples.txt 0 1 4 r.txt\n", worked_samples);
    for (const std::string& name : leftovers)
        write_file(dir.file(name), "left behind");
    for (const std::string& name : kept)
        write_file(dir.file(name), "kept");
    const std::string folder_alike = temporary("sub", dead, host);
    std::filesystem::create_directory(dir.file(folder_alike));

    const RunResult run = run_psd_in(dir.path());
    EXPECT_EQ(run.exit_status, 0) << run.console;
    std::set<std::string> expected = kept;
    expected.insert({"config_psd.txt", "samples.txt", "r.txt", folder_alike});
    EXPECT_EQ(folder_entries(dir.path()), expected);
    EXPECT_EQ(read_file(dir.file("r.txt")), worked_report);
}

namespace {

// Writes part of the report, raises the signal that content names, then writes the rest.
bool write_and_raise(FileSink& sink, const void* content) {
    const std::string part(1 << 20, 'x');
    if (!append_text(sink, part.data(), part.size())) return false;
    raise(*static_cast<const int*>(content));
    return append_text(sink, part.data(), part.size());
}

}  // namespace

// A run interrupted while it writes its report removes its temporary file, then ends as the
// signal would have ended it (a shell sees 128 + its number); a signal that the run was started
// with ignored (nohup ignores SIGHUP) stays ignored, and the report is written.
TEST(Interruption, RemovesTheTemporaryFileThenEndsTheProcessAsTheSignalWould) {
    const struct {
        int signal_number;
        bool ignored_at_start;
    } cases[] = {
        {SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGQUIT, false}, {SIGHUP, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("signal " + std::to_string(c.signal_number) +
                     (c.ignored_at_start ? ", ignored at the start" : ""));
        TempDir dir;
        write_file(dir.file("r.txt"), "earlier");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit no_core{0, 0};  // SIGQUIT would dump one
            setrlimit(RLIMIT_CORE, &no_core);
            signal(c.signal_number, c.ignored_at_start ? SIG_IGN : SIG_DFL);
            set_up_signals();
            replace_file(dir.file("r.txt").c_str(), write_and_raise, &c.signal_number);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (c.ignored_at_start) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_EQ(read_file(dir.file("r.txt")).size(), std::size_t{2} << 20);
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number) << status;
            EXPECT_EQ(read_file(dir.file("r.txt")), "earlier");
        }
        EXPECT_EQ(folder_entries(dir.path()), std::set<std::string>{"r.txt"});
    }
}

// A folder that may not be written, holding a report that may: no temporary file can be made
// beside it, but a plain open for writing succeeds, so the report is written in place. A new
// file there still cannot be created. Root may write any folder, so root runs this as nobody.
TEST(FileReplacement, WritesAWritableFileInAFolderThatMayNotBeWrittenInPlace) {
    TempDir dir;
    const std::string folder = dir.file("closed");
    std::filesystem::create_directory(folder);
    write_file(folder + "/r.txt", "earlier");
    ASSERT_EQ(chmod((folder + "/r.txt").c_str(), 0666), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    auto attempt = [&] {
        const bool in_place = replace_with(folder + "/r.txt", report) == ReplaceStatus::written;
        const bool refused =
            replace_with(folder + "/new.txt", report) == ReplaceStatus::cannot_create;
        return (in_place ? 1 : 0) | (refused ? 2 : 0);
    };
    int outcome = 0;
    if (geteuid() != 0) {
        outcome = attempt();
    } else {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
            _exit(attempt());
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 125) GTEST_SKIP() << "cannot become user 65534";
        outcome = WEXITSTATUS(status);
    }
    EXPECT_EQ(outcome, 3);
    EXPECT_EQ(read_file(folder + "/r.txt"), report);
    EXPECT_EQ(folder_entries(folder), std::set<std::string>{"r.txt"});
}

#else

TEST(FileReplacement, AFileHeldOpenWithoutSharingIsKeptAndSaidToBeHeld) {
    TempDir dir;
    write_file(dir.file("r.txt"), "earlier");
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_READ | GENERIC_WRITE}}) {
        const HANDLE held = CreateFileA(dir.file("r.txt").c_str(), access, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(replace_with(dir.file("r.txt"), report), ReplaceStatus::held_open);
        CloseHandle(held);
        EXPECT_EQ(read_file(dir.file("r.txt")), "earlier");
        EXPECT_EQ(folder_entries(dir.path()), std::set<std::string>{"r.txt"});
    }
    // Held open with sharing, as an editor that only reads it does: replaced as usual.
    const HANDLE shared = CreateFileA(dir.file("r.txt").c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_EQ(replace_with(dir.file("r.txt"), report), ReplaceStatus::written);
    CloseHandle(shared);
    EXPECT_EQ(read_file(dir.file("r.txt")), as_stored(report));
}

TEST(FileReplacement, AReadOnlyFileOrAFolderCannotBeCreatedAndNulIsWrittenInto) {
    TempDir dir;
    write_file(dir.file("r.txt"), "earlier");
    ASSERT_TRUE(SetFileAttributesA(dir.file("r.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(replace_with(dir.file("r.txt"), report), ReplaceStatus::cannot_create);
    SetFileAttributesA(dir.file("r.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(read_file(dir.file("r.txt")), "earlier");
    std::filesystem::create_directory(dir.file("folder"));
    EXPECT_EQ(replace_with(dir.file("folder"), report), ReplaceStatus::cannot_create);
    EXPECT_EQ(replace_with(dir.file("missing/r.txt"), report), ReplaceStatus::cannot_create);
    EXPECT_EQ(replace_with("NUL", report), ReplaceStatus::written);
    EXPECT_EQ(folder_entries(dir.path()), (std::set<std::string>{"folder", "r.txt"}));
    EXPECT_TRUE(folder_entries(dir.file("folder")).empty());
}

#endif
