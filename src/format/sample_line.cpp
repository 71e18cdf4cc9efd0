#include "format/sample_line.h"

#include <cmath>
#include <cstdint>

#include "format/decimal.h"
#include "format/text_scan.h"
#include "internal/short_decimal.h"

namespace psd {

namespace {

// Characters that count toward the line's length.
std::size_t line_length(const char* first, const char* last, bool line_feed) {
    std::size_t length = static_cast<std::size_t>(last - first);
    if (line_feed && length > 0 && last[-1] == '\r') --length;
    return length;
}

inline const char* skip_blanks(const char* p) {
    while (is_blank(*p))
        ++p;
    return p;
}

// The end of a plain decimal number at p ([sign] digits [. digits] [e [sign] digits], at least
// one mantissa digit), or nullptr. strtod reads such a token whole, so it passes the rule without
// being converted: the time stamps after line 2 are checked, their values never used.
const char* skip_plain_decimal(const char* p) {
    p += *p == '+' || *p == '-';
    // Byte by byte: the loop ends are well predicted, so the scan of the next token can start
    // before this one is finished, which counting a word's digits would make wait.
    const char* const mantissa = p;
    while (is_digit(*p))
        ++p;
    bool any_digit = p != mantissa;
    if (*p == '.') {
        const char* const fraction = ++p;
        while (is_digit(*p))
            ++p;
        any_digit = any_digit || p != fraction;
    }
    if (!any_digit) return nullptr;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        q += *q == '+' || *q == '-';
        if (!is_digit(*q)) return nullptr;  // "2e" reads as 2: not whole
        while (is_digit(*q))
            ++q;
        p = q;
    }
    return p;
}

}  // namespace

LineVerdict read_sample_line(const char* first, const char* last, bool line_feed,
                             SampleValues* values) {
    if (line_length(first, last, line_feed) >= read_limit) return LineVerdict::too_long;
    double numbers[3];
    const char* p = skip_space(first, last);
    for (double& number : numbers) {
        if (p == last) return LineVerdict::not_sample;
        const char* const stop = find_space(p, last);
        if (!convert_token(p, stop, &number)) return LineVerdict::not_sample;
        p = skip_space(stop, last);
    }
    if (p != last) return LineVerdict::not_sample;
    *values = {numbers[0], static_cast<float>(numbers[1]), static_cast<float>(numbers[2])};
    if (!std::isfinite(values->voltage) || !std::isfinite(values->current))
        return LineVerdict::not_finite;
    return LineVerdict::sample;
}

const char* read_plain_sample_line(const char* first, SampleValues* values) {
    // No scan below passes the line feed: blanks stop at it and a number at any white space.
    const char* const time = skip_plain_decimal(skip_blanks(first));
    if (time == nullptr || !is_blank(*time)) return nullptr;
    const ShortDecimal voltage = detail::convert_short_decimal_in<true>(skip_blanks(time), nullptr);
    if (voltage.end == nullptr || !is_blank(*voltage.end)) return nullptr;
    const ShortDecimal current =
        detail::convert_short_decimal_in<true>(skip_blanks(voltage.end), nullptr);
    if (current.end == nullptr) return nullptr;
    const char* const last = skip_blanks(current.end);
    if (*last != '\n' || line_length(first, last, true) >= read_limit) return nullptr;
    *values = {0.0, static_cast<float>(voltage.value), static_cast<float>(current.value)};
    if (!std::isfinite(values->voltage) || !std::isfinite(values->current)) return nullptr;
    return last;
}

}  // namespace psd
