#include "platform/file_system.h"

#include "platform/file_identity.h"

namespace psd {

namespace {

class SystemFiles : public FileSystem {
  public:
    OpenStatus open_for_reading(const char* name, File* file) const override {
        return psd::open_for_reading(name, file);
    }
    bool same_file(const char* a, const char* b) const override { return psd::same_file(a, b); }
    bool is_enterable_folder(const char* name) const override {
        return psd::is_enterable_folder(name);
    }
    ReplaceStatus replace_file(const char* name, ContentWriter write_content,
                               const void* content) const override {
        return psd::replace_file(name, write_content, content);
    }
};

}  // namespace

const FileSystem& system_files() {
    static const SystemFiles files;
    return files;
}

}  // namespace psd
