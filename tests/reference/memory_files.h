// Files held in memory behind psd's file-system seam (platform/file_system.h), as a test double:
// a whole run reads its configuration and samples and writes its report without touching a disk,
// so that fuzzing and tests can run it many thousand times a second.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace psd::reference {

class MemoryFiles : public FileSystem {
  public:
    // name -> content; replace_file changes it although the seam's operations are const, as a
    // real file system changes behind a const handle
    mutable std::map<std::string, std::string> files;
    std::set<std::string> folders;  // names that are folders

    // A regular file's content opens as a stream; a folder is not_regular; anything else missing.
    OpenStatus open_for_reading(const char* name, File* file) const override;
    // Names are one file when they are the same text.
    bool same_file(const char* a, const char* b) const override;
    bool is_enterable_folder(const char* name) const override;
    // The content replaces any earlier file of that name only once it is complete; a name that
    // is a folder, or whose folder part names no folder, cannot be created.
    ReplaceStatus replace_file(const char* name, ContentWriter write_content,
                               const void* content) const override;
};

}  // namespace psd::reference
