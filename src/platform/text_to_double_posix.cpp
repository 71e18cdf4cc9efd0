#include <cstdlib>

#include "platform/text_to_double.h"

namespace psd {

double text_to_double(const char* text, char** end) {
    return std::strtod(text, end);
}

}  // namespace psd
