#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "internal/temporary_file.h"

namespace psd {

std::uint64_t this_process() {
    return static_cast<std::uint64_t>(::getpid());
}

std::string raw_host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}

bool process_is_gone(std::uint64_t process) {
    // kill takes 0 and negative numbers for process groups: only a real process id is asked about.
    if (process == 0 || process > static_cast<std::uint64_t>(INT_MAX)) return false;
    // EPERM says that the process lives under another user.
    return ::kill(static_cast<pid_t>(process), 0) == -1 && errno == ESRCH;
}

std::vector<std::string> folder_names(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) return names;
    while (const dirent* entry = ::readdir(listing))
        names.emplace_back(entry->d_name);
    ::closedir(listing);
    return names;
}

void remove_file(const std::string& path) {
    static_cast<void>(::unlink(path.c_str()));
}

}  // namespace psd
