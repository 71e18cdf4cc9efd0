// The file operations a run makes, behind one interface, so that a whole run can be driven on
// files held in memory (the tests' and the fuzzer's double) exactly as on the system's files.
//
// The system's files are the default everywhere; only tests and fuzz targets give another.
#pragma once

#include "platform/file.h"
#include "platform/replace_file.h"

namespace psd {

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // As psd::open_for_reading (platform/file.h).
    virtual OpenStatus open_for_reading(const char* name, File* file) const = 0;
    // As psd::same_file and psd::is_enterable_folder (platform/file_identity.h).
    virtual bool same_file(const char* a, const char* b) const = 0;
    virtual bool is_enterable_folder(const char* name) const = 0;
    // As psd::replace_file (platform/replace_file.h).
    virtual ReplaceStatus replace_file(const char* name, ContentWriter write_content,
                                       const void* content) const = 0;
};

// The system's own files.
const FileSystem& system_files();

}  // namespace psd
