#include "reference/memory_files.h"

#include <cerrno>
#include <cstdio>

namespace psd::reference {

namespace {

// A stream reading text; on POSIX straight from memory, elsewhere through a temporary file.
std::FILE* stream_of(const std::string& text) {
#ifndef _WIN32
    if (!text.empty()) return fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
#endif
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) return nullptr;
    if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
        static_cast<void>(std::fclose(stream));
        return nullptr;
    }
    std::rewind(stream);
    return stream;
}

std::string folder_of(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

}  // namespace

OpenStatus MemoryFiles::open_for_reading(const char* name, File* file) const {
    file->reset();
    if (folders.count(name) != 0) return OpenStatus::not_regular;
    const auto found = files.find(name);
    if (found == files.end()) {
        errno = ENOENT;
        return OpenStatus::missing;
    }
    file->reset(stream_of(found->second));
    return *file ? OpenStatus::ok : OpenStatus::unreadable;
}

bool MemoryFiles::same_file(const char* a, const char* b) const {
    return std::string(a) == b;
}

bool MemoryFiles::is_enterable_folder(const char* name) const {
    return folders.count(name) != 0;
}

ReplaceStatus MemoryFiles::replace_file(const char* name, ContentWriter write_content,
                                        const void* content) const {
    const std::string folder = folder_of(name);
    if (folders.count(name) != 0 || (!folder.empty() && folders.count(folder) == 0))
        return ReplaceStatus::cannot_create;
    std::string text;
    if (!write_content_to_text(write_content, content, &text)) return ReplaceStatus::write_failed;
    files[name] = std::move(text);
    return ReplaceStatus::written;
}

}  // namespace psd::reference
