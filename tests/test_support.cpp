#include "test_support.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

std::string as_text(const std::string& text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        plain += text[i];
    }
    return plain;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only folders and files behind; make them removable first.
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
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() !=
           std::filesystem::file_type::not_found;
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

std::string as_stored(const std::string& text) {
#ifdef _WIN32
    std::string stored;
    for (char c : text) {
        if (c == '\n') stored += '\r';
        stored += c;
    }
    return stored;
#else
    return text;
#endif
}

RunResult run_psd_in(const std::string& dir) {
    return run_psd_as(dir, Launch{}).run;
}

#ifdef _WIN32

TempDir::TempDir() {
    // CreateDirectory fails on a name that exists, so a process id and a counter are enough.
    static unsigned calls = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string name =
            "psd_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++calls);
        if (CreateDirectoryA((base / name).string().c_str(), nullptr)) {
            path_ = (base / name).string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

Outcome run_psd_as(const std::string& dir, const Launch& launch) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out_read = nullptr;
    HANDLE out_write = nullptr;
    if (!CreatePipe(&out_read, &out_write, &inherit, 0)) throw std::runtime_error("pipe failed");
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    HANDLE in = launch.close_stdin
                    ? INVALID_HANDLE_VALUE
                    : CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out_write;
    startup.hStdError = out_write;
    PROCESS_INFORMATION process{};
    std::string command =
        "\"" + (launch.program.empty() ? std::string(PSD_EXE) : launch.program) + "\"";
    for (const std::string& argument : launch.arguments)
        command += " \"" + argument + "\"";
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, dir.c_str(), &startup, &process);
    CloseHandle(out_write);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (!started) {
        CloseHandle(out_read);
        throw std::runtime_error("cannot start " + command);
    }
    Outcome outcome;
    std::string console;
    std::thread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(out_read, buffer, sizeof buffer, &got, nullptr) && got > 0)
            console.append(buffer, got);
    });
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(launch.deadline_seconds) * 1000) !=
        WAIT_OBJECT_0) {
        outcome.hung = true;
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    reader.join();
    CloseHandle(out_read);
    DWORD status = 0;
    if (!outcome.hung && GetExitCodeProcess(process.hProcess, &status))
        outcome.run.exit_status = static_cast<int>(status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    outcome.run.console = as_text(console);
    outcome.refused = outcome.run.exit_status == 125;
    return outcome;
}

#else

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "psd_test_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

namespace {

// Standard output of the child: a pipe that nobody reads, so that a write to it fails (or raises
// SIGPIPE, left at its default action as a shell leaves it).
bool point_stdout_nowhere() {
    int unread[2];
    if (pipe(unread) != 0) return false;
    close(unread[0]);
    signal(SIGPIPE, SIG_DFL);
    const bool moved = dup2(unread[1], 1) == 1;
    close(unread[1]);
    return moved;
}

// In the child: sets up the process as launch says, then runs the program (125: not set up).
[[noreturn]] void start_child(const std::string& dir, const Launch& launch, int out) {
    dup2(out, 1);
    dup2(out, 2);
    close(out);
    if (launch.close_stdin) {
        close(0);
    } else {
        const int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        if (null_in > 0) close(null_in);
    }
    if (launch.stdout_unread && !point_stdout_nowhere()) _exit(125);
    if (chdir(dir.c_str()) != 0) _exit(125);
    if (launch.file_size_limit != ~0ull) {
        // An ignored SIGXFSZ stays ignored across exec, so a write past the limit fails with
        // EFBIG, as on a full disk, instead of killing the process.
        signal(SIGXFSZ, launch.file_size_signal ? SIG_DFL : SIG_IGN);
        const rlimit limit{launch.file_size_limit, launch.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (launch.as_nobody) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
        if (access("config_psd.txt", R_OK) != 0) _exit(125);
    }
    const std::string program = launch.program.empty() ? PSD_EXE : launch.program;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : launch.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

Outcome run_psd_as(const std::string& dir, const Launch& launch) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        close(out[0]);
        start_child(dir, launch, out[1]);
    }
    close(out[1]);
    Outcome outcome;
    pollfd reading{out[0], POLLIN, 0};
    const int deadline_ms = launch.deadline_seconds * 1000;
    for (;;) {
        const int ready = poll(&reading, 1, deadline_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            outcome.hung = true;
            kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0) break;
        outcome.run.console.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) outcome.run.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status) && !outcome.hung) outcome.signal = WTERMSIG(status);
    outcome.refused = outcome.run.exit_status == 125;
    return outcome;
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

#endif

std::string cannot_create(const std::string& output_file) {
    return "\nThe file " + output_file +
           " cannot be created. Check that its folder exists and can be written, or change "
           "output_file in config_psd.txt.\n" +
           click;
}

std::string write_failed(const std::string& output_file) {
    return "\nThe file " + output_file +
           " could not be written completely; the disk may be full.\n" + click;
}

std::string unreadable(const std::string& data_file) {
    return "\nThe file " + data_file +
           " could not be read. Check that it is a readable sample file, or change data_file in "
           "config_psd.txt.\n" +
           click;
}

// Voltage 1 2 3 4 and current 1 1 1 3, at time stamps 0 1 2 3.
const std::string worked_samples = "0 1 1\n1 2 1\n2 3 1\n3 4 3\n";
const std::string worked_report =
    "data file = samples.txt    hanning = 0    nb_section = 1     nbpoint_section = 4\n"
    "    frequency        PSD_v           PSD_i            Zn\n"
    "  2.500000e-01\t  4.000000e+00\t  2.000000e+00\t  1.414214e+00\n"
    "  5.000000e-01\t  2.000000e+00\t  2.000000e+00\t  1.000000e+00\n";

RunResult run_psd_with(const std::string& dir, const std::vector<std::string>& arguments) {
    Launch launch;
    launch.arguments = arguments;
    return run_psd_as(dir, launch).run;
}

std::string insert_line(std::string text, int before, const std::string& line) {
    std::size_t at = 0;
    for (int j = 1; j < before; ++j)
        at = text.find('\n', at) + 1;
    return text.insert(at, line + "\n");
}

File stream_of(const std::string& bytes) {
    File stream(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), stream.get());
    std::rewind(stream.get());
    return stream;
}

std::uint32_t bits(float value) {
    std::uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

std::uint64_t bits(double value) {
    std::uint64_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

// A well-formed record of about `lines` sample lines in the forms recorders write (fixed seed),
// then lines a run must only count: long ones, blank ones, a header, no final line feed.
std::string seeded_record(std::uint32_t seed, int lines) {
    std::mt19937 rng(seed);
    auto pick = [&rng](unsigned n) { return rng() % n; };
    auto number = [&](int j) -> std::string {
        char text[64];
        const double value = std::ldexp(static_cast<double>(rng()) - 2147483648.0, -30);
        switch (pick(8)) {
            case 0:
                std::snprintf(text, sizeof text, "%d", static_cast<int>(pick(2000)) - 1000);
                break;
            case 1:
                std::snprintf(text, sizeof text, "%a", value);
                break;
            case 2:
                std::snprintf(text, sizeof text, "%.25g", value);  // beyond the fast path
                break;
            case 3:
                std::snprintf(text, sizeof text, "%+.3E", value * 1e-9);
                break;
            default:
                std::snprintf(text, sizeof text, j % 2 ? "%.9g" : "%.6e", value);
        }
        return text;
    };
    std::string file;
    for (int j = 0; j < lines; ++j) {
        const char* gap = pick(6) == 0 ? "\t" : pick(5) == 0 ? " \t  " : " ";
        file += (pick(9) == 0 ? " " : "") + std::to_string(j) + "e-3" + gap + number(j) + gap +
                number(j) + (pick(7) == 0 ? " " : "") + (pick(4) == 0 ? "\r\n" : "\n");
    }
    file += std::string(500, '7') + "\n\nTime Vf Im\n1,5;2\r\n" + std::string(198, ' ');
    return file;
}
