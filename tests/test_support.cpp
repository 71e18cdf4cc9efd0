#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "psd_test_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return path_ + "/" + name;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::set<std::string> folder_entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

void write_run_files(const TempDir& dir, const std::string& config, const std::string& samples) {
    write_file(dir.file("config_psd.txt"), config);
    write_file(dir.file("samples.txt"), samples);
}

RunResult run_psd_in(const std::string& dir) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        if (chdir(dir.c_str()) != 0) _exit(127);
        execl(PSD_EXE, "psd", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    RunResult result;
    char buffer[4096];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0)
        result.console.append(buffer, got);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    return result;
}

void with_limit(int resource, unsigned long value, const std::function<void()>& body) {
    rlimit saved;
    if (getrlimit(resource, &saved) != 0) throw std::runtime_error("getrlimit failed");
    rlimit tight = saved;
    tight.rlim_cur = value;
    void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(resource, &tight) != 0) throw std::runtime_error("setrlimit failed");
    body();
    setrlimit(resource, &saved);
    signal(SIGXFSZ, saved_handler);
}

// Voltage 1 2 3 4 and current 1 1 1 3, at time stamps 0 1 2 3.
const std::string worked_samples = "0 1 1\n1 2 1\n2 3 1\n3 4 3\n";
const std::string worked_report =
    "data file = samples.txt    hanning = 0    nb_section = 1     nbpoint_section = 4\n"
    "    frequency        PSD_v           PSD_i            Zn\n"
    "  2.500000e-01\t  4.000000e+00\t  2.000000e+00\t  1.414214e+00\n"
    "  5.000000e-01\t  2.000000e+00\t  2.000000e+00\t  1.000000e+00\n";

DirectDft::DirectDft(std::uint32_t n) : n_(n), roots_(n) {
    const long double pi = 3.141592653589793238462643383279502884L;
    for (std::uint32_t m = 0; m < n; ++m)
        roots_[m] = std::polar(1.0L, 2 * pi * m / n);
}

LComplex DirectDft::bin(const std::vector<LComplex>& x, std::uint32_t k, int sign) const {
    LComplex sum = 0;
    for (std::uint32_t p = 0; p < n_; ++p) {
        const LComplex root = roots_[(std::uint64_t{p} * k) % n_];
        sum += x[p] * (sign > 0 ? root : std::conj(root));
    }
    return sum;
}

// ---- Added for the command-line and one-pass tests.

RunResult run_psd_with(const std::string& dir, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>("psd")};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        if (chdir(dir.c_str()) != 0) _exit(127);
        execv(PSD_EXE, argv.data());
        _exit(127);
    }
    close(out[1]);
    RunResult result;
    char buffer[4096];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0)
        result.console.append(buffer, static_cast<std::size_t>(got));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    return result;
}
