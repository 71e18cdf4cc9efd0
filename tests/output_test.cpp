// Replacing a file safely, called directly: where a file is written in place instead of being
// replaced, and the Windows faults (a file held open, a read-only file, a folder, NUL).
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/replace_file.h"
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

}  // namespace

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
