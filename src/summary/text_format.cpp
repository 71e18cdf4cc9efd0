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

std::string quoted_text(const std::string& text, char q) {
    std::string quoted(1, q);
    for (char c : text) {
        if (c == q) quoted += q;
        quoted += c;
    }
    return quoted + q;
}

std::string csv_text(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    return quoted_text(text, '"');
}

std::string csv_number(double value) {
    return std::isfinite(value) ? format("%.9g", value) : std::string();
}

std::string detrend_word(Detrend detrend) {
    switch (detrend) {
        case Detrend::mean:
            return "none";
        case Detrend::linear:
            return "linear";
        case Detrend::quadratic:
            return "quadratic";
    }
    return "";
}

std::string removed_words(Detrend detrend) {
    switch (detrend) {
        case Detrend::mean:
            return "section means removed";
        case Detrend::linear:
            return "section lines removed";
        case Detrend::quadratic:
            return "section parabolas removed";
    }
    return "";
}

}  // namespace psd
