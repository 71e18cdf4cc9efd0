#include "summary/text_format.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace psd {

std::string format(const char* pattern, ...) {
    va_list args, again;
    va_start(args, pattern);
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), pattern, again);
    va_end(again);
    return text.data();
}

std::string number(double value) {
    return std::isfinite(value) ? format("%.4g", value) : std::string("not available");
}

}  // namespace psd
