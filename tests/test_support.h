// Helpers shared by the test files: temporary folders, whole-file reads and writes, running the
// built psd program and the console text it prints on failures, and the hand-worked example.
// Process and folder helpers have a POSIX and a Windows side.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"

// PSD_TSAN: built with ThreadSanitizer, whose runtime writes a file of its own before main, so a
// file size limit ends every process at its start.
#if defined(__SANITIZE_THREAD__)
#define PSD_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PSD_TSAN 1
#endif
#endif

// PSD_ASAN: built with AddressSanitizer or ThreadSanitizer, whose shadow memory needs more
// address space than the limits some tests set.
#if defined(__SANITIZE_ADDRESS__) || defined(PSD_TSAN)
#define PSD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PSD_ASAN 1
#endif
#endif

// A fresh folder under the system's temporary folder, removed with its contents on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

  private:
    std::string path_;
};

using psd::File;

// A temporary stream at its start holding exactly these bytes.
File stream_of(const std::string& bytes);
// The bit pattern of a float or a double, for comparisons that must hold to the last bit.
std::uint32_t bits(float value);
std::uint64_t bits(double value);

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
// Whether anything of that name exists, a dangling link included.
bool file_exists(const std::string& path);
// The names in a folder, its own entries only.
std::set<std::string> folder_entries(const std::string& folder);

// Writes config_psd.txt holding config and samples.txt holding samples into dir.
void write_run_files(const TempDir& dir, const std::string& config, const std::string& samples);

// Text as the platform stores it: line feeds, or CR LF on Windows.
std::string as_stored(const std::string& text);
// Stored text read back with CR LF as a line feed, as a text-mode read would on Windows.
std::string as_text(const std::string& stored);

struct RunResult {
    int exit_status = -1;  // the process's exit status, or -1 if it did not exit normally
    std::string console;   // everything written to standard output and standard error, CR LF
                           // read as a line feed
};

// How the child psd is started, beyond the defaults (standard input at its end).
struct Launch {
    std::string program;                 // the built psd when empty
    std::vector<std::string> arguments;  // after the program's name
    bool close_stdin = false;    // standard input closed rather than at the end of an empty file
    int deadline_seconds = 120;  // then the run counts as hung and is killed
#ifndef _WIN32
    unsigned long long file_size_limit = ~0ull;  // RLIMIT_FSIZE, with SIGXFSZ ignored ...
    bool file_size_signal = false;  // ... or left to end the process, as after "ulimit -f"
    bool stdout_unread = false;     // standard output a pipe whose reading end is closed
    bool as_nobody = false;         // setuid(65534) after chdir
#endif
};

struct Outcome {
    RunResult run;
    bool hung = false;     // still running at the deadline, then killed
    bool refused = false;  // the child could not be set up as asked (exit status 125)
    int signal = 0;        // POSIX: the signal that ended it, if one did
};

// Runs the built psd (or launch.program) in dir as launch says. A run that has not ended by the
// deadline (by default far beyond any run here, sanitizers and all) is killed, so a hang fails
// instead of blocking.
Outcome run_psd_as(const std::string& dir, const Launch& launch);

// Runs the built psd with the working directory dir and standard input at end of file.
RunResult run_psd_in(const std::string& dir);

#ifndef _WIN32
// Runs body with the soft limit of resource (RLIMIT_AS, RLIMIT_FSIZE, ...) lowered to value and
// SIGXFSZ ignored, so that writes past a file size limit fail instead of ending the process.
// Child processes started by body inherit the limit.
void with_limit(int resource, unsigned long value, const std::function<void()>& body);
#endif

// The console text of failures: each message, then the line every failure ends with. Inline, so
// that constants of the test files built from them are initialised after them.
inline const std::string click = "Click on any key to exit\n";
std::string cannot_create(const std::string& output_file);
std::string write_failed(const std::string& output_file);
std::string unreadable(const std::string& data_file);
// The design's two lines, then the line with the numbers ("d.txt has 8 samples; ...").
inline std::string too_few_points(const std::string& numbers) {
    return "\nFatal error: the number of data points is too low. Decrease\n"
           "the number of sections in the file config_psd.txt.\n" +
           numbers + "\n" + click;
}

// A well-formed record of about `lines` sample lines in the forms recorders write (fixed seed),
// then lines a run must only count: long ones, blank ones, a header, no final line feed.
std::string seeded_record(std::uint32_t seed, int lines);

// The four-sample run worked by hand (samples.txt, deltat 1, N = 4, M = 1, no window) and its
// report; the hand calculation is in spectrum_test.cpp.
extern const std::string worked_samples;
extern const std::string worked_report;

// Runs the built psd with the working directory dir, the given arguments and standard input at
// end of file; standard output and standard error both go to console.
RunResult run_psd_with(const std::string& dir, const std::vector<std::string>& arguments);

// text with line inserted before its line number `before` (from 1).
std::string insert_line(std::string text, int before, const std::string& line);
