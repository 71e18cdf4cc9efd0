#include "platform/file.h"

namespace psd {

File open_for_reading(const char* name) {
    return File(std::fopen(name, "rb"));
}

bool is_absolute_name(const std::string& name) {
#ifdef _WIN32
    // "\\server\share", "\name", "/name" and "C:..." do not depend on the folder.
    return !name.empty() &&
           (name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':'));
#else
    return !name.empty() && name[0] == '/';
#endif
}

std::string path_in(const std::string& folder, const std::string& name) {
    if (folder.empty() || is_absolute_name(name)) return name;
    const char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
    return folder + "/" + name;
}

}  // namespace psd
