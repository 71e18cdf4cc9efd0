// The temporary file that replace_file writes a report into before it takes the report's name:
// its name, the removal of the ones that killed runs left behind, and the one name that an
// interrupting signal removes before the process ends. The POSIX and the Windows side share it.
//
// A temporary name reads ".<report name>.psd-<process id>@<host>.<6 letters or digits>": it tells
// which program made the file, in which process and on which machine. A process killed outright
// (SIGKILL, a power cut) cannot remove its file, so a later run in the folder removes it, once the
// name shows that it was made on this machine by a process that no longer lives. A file of a run
// still writing, or of another machine sharing the folder, is never touched.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <cstdint>
#include <string>
#include <vector>

namespace psd {

// Who made a temporary file, as its name says.
struct TemporaryOwner {
    std::uint64_t process = 0;
    std::string host;
};

// A host name as temporary names carry it: each byte outside [A-Za-z0-9-] as '-', at most 32
// characters.
std::string host_in_name(const std::string& host);

// This machine's name as temporary names carry it; empty when the system does not give it.
std::string this_host();

// The names to try, one after another, for a temporary file beside a report called name in folder
// (folder empty or ending in a separator). O_EXCL or CREATE_NEW settles a collision, so the letters
// need only spread the names, not be unpredictable.
class TemporaryNames {
  public:
    TemporaryNames(const std::string& folder, const std::string& name);
    // folder followed by a fresh name of the form above.
    std::string next();

  private:
    std::string stem_;  // folder + ".<name>.psd-<process>@<host>."
    std::uint64_t seed_;
};

// Whether entry (a name without folder) has exactly the form of a temporary name; *owner then
// says who made it. REQUIRES: owner not null.
bool parse_temporary_name(const std::string& entry, TemporaryOwner* owner);

// Removes from folder (empty or ending in a separator) the temporary files that processes of this
// machine left when they ended without removing them. Any failure is ignored: the run goes on as
// if there had been nothing to remove.
void remove_leftovers(const std::string& folder);

// Makes name, a temporary file just created, the one that an interrupting signal removes. A name
// too long to keep is not kept: a later run's remove_leftovers removes that file instead.
// REQUIRES: name NUL-terminated.
void hold_temporary(const char* name);

// The temporary file is gone or renamed: nothing is to be removed any longer.
void release_temporary();

// The name held, or null. Async-signal-safe, for the handler of an interrupting signal.
const char* held_temporary();

// While one lives, an interrupting signal waits: a temporary file's creation and hold_temporary,
// or its rename and release_temporary, then happen as one step that the handler cannot split.
// Each platform's side of the signal handling provides it.
class InterruptionsHeld {
  public:
    InterruptionsHeld();
    ~InterruptionsHeld();
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

  private:
#ifndef _WIN32
    sigset_t saved_;  // the signal mask to restore
#endif
};

// What each platform's side provides for the above: this process's id, the machine's name as the
// system gives it (empty when it does not), whether a process of this machine has ended (false
// when that cannot be told), the names in a folder (empty or ending in a separator; none when it
// cannot be listed) and the removal of a file (never of a folder), whose failure is ignored.
std::uint64_t this_process();
std::string raw_host_name();
bool process_is_gone(std::uint64_t process);
std::vector<std::string> folder_names(const std::string& folder);
void remove_file(const std::string& path);

}  // namespace psd
