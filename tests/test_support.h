// Helpers shared by the test files: temporary folders, whole-file reads and writes, and running
// the built psd program in a folder with standard input at end of file.
#pragma once

#include <string>

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

struct RunResult {
    int exit_status = -1;  // the process's exit status, or -1 if it did not exit normally
    std::string console;   // everything written to standard output and standard error
};

// Runs the built psd with the working directory dir and standard input at end of file.
RunResult run_psd_in(const std::string& dir);
