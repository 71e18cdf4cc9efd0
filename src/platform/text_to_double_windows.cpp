#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/text_to_double.h"

namespace psd {

namespace {

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of a digit in any base up to 36, or 36 for other characters.
unsigned digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A' + 10);
    return 36;
}

// glibc's NaN for "nan(chars)": the quiet NaN whose low 51 bits hold chars read as strtoull reads
// it in base 0 (decimal, 0x hexadecimal or 0 octal, saturating on overflow) when that reads all
// of chars; the plain quiet NaN otherwise, and for "nan" without parentheses. Negated after "-".
// The parentheses belong to the number only around letters, digits and '_' (MinGW takes any
// characters up to a ')'); *end is set past what glibc reads.
double glibc_nan(const char* text, char** end) {
    const char* p = text;
    while (is_space(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    p += 3;  // "nan", as the caller's strtod found
    const char* stop = p;
    std::uint64_t payload = 0;
    if (*p == '(') {
        const char* const first = ++p;
        while (digit_value(*p) < 36 || *p == '_')
            ++p;
        if (*p == ')') {
            stop = p + 1;
            const char* q = first;
            unsigned base = 10;
            if (q[0] == '0' && lower(q[1]) == 'x' && digit_value(q[2]) < 16) {
                base = 16;
                q += 2;
            } else if (q[0] == '0') {
                base = 8;
            }
            std::uint64_t value = 0;
            bool overflow = false;
            for (; q != p && digit_value(*q) < base; ++q) {
                const unsigned d = digit_value(*q);
                if (value > (UINT64_MAX - d) / base) overflow = true;
                value = value * base + d;
            }
            if (q == p) payload = overflow ? UINT64_MAX : value;
        }
    }
    const std::uint64_t bits = (negative ? std::uint64_t{1} << 63 : 0) |
                               std::uint64_t{0x7ff8000000000000} |
                               (payload & std::uint64_t{0x0007ffffffffffff});
    double nan;
    std::memcpy(&nan, &bits, sizeof nan);
    if (end) *end = const_cast<char*>(stop);
    return nan;
}

}  // namespace

double text_to_double(const char* text, char** end) {
    char* stop = nullptr;
    const double value = std::strtod(text, &stop);
    if (end) *end = stop;
    if (stop == text) return 0.0;  // no number: +0, where MinGW keeps a leading '-'
    if (std::isnan(value)) return glibc_nan(text, end);
    return value;
}

}  // namespace psd
