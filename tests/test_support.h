// Helpers shared by the test files: temporary folders, whole-file reads and writes, running the
// built psd program, the hand-worked example and a directly summed long double DFT.
#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

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

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// The names in a folder, its own entries only.
std::set<std::string> folder_entries(const std::string& folder);

// Writes config_psd.txt holding config and samples.txt holding samples into dir.
void write_run_files(const TempDir& dir, const std::string& config, const std::string& samples);

struct RunResult {
    int exit_status = -1;  // the process's exit status, or -1 if it did not exit normally
    std::string console;   // everything written to standard output and standard error
};

// Runs the built psd with the working directory dir and standard input at end of file.
RunResult run_psd_in(const std::string& dir);

// Runs body with the soft limit of resource (RLIMIT_AS, RLIMIT_FSIZE, ...) lowered to value and
// SIGXFSZ ignored, so that writes past a file size limit fail instead of ending the process.
// Child processes started by body inherit the limit.
void with_limit(int resource, unsigned long value, const std::function<void()>& body);

// The four-sample run worked by hand (samples.txt, deltat 1, N = 4, M = 1, no window) and its
// report; the hand calculation is in spectrum_test.cpp.
extern const std::string worked_samples;
extern const std::string worked_report;

using LComplex = std::complex<long double>;

// The unscaled DFT with kernel exp(sign 2 pi i p k / n), summed term by term in long double over
// the n-th roots of unity, tabulated once with the exponent p k reduced modulo n exactly.
class DirectDft {
  public:
    explicit DirectDft(std::uint32_t n);
    LComplex bin(const std::vector<LComplex>& x, std::uint32_t k, int sign) const;

  private:
    std::uint32_t n_;
    std::vector<LComplex> roots_;
};

// ---- Added for the command-line and one-pass tests.

// Runs the built psd with the working directory dir, the given arguments and standard input at
// end of file; standard output and standard error both go to console.
RunResult run_psd_with(const std::string& dir, const std::vector<std::string>& arguments);
