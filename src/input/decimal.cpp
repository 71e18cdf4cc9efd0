#include "input/decimal.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "input/text_scan.h"
#include "platform/text_to_double.h"

namespace {

// Every power of ten up to 10^22 is a double exactly (5^22 < 2^53); written out so that no
// library pow is involved.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::uint64_t integer_powers_of_ten[] = {1,      10,      100,      1000,     10000,
                                                   100000, 1000000, 10000000, 100000000};

// Appends the run of decimal digits at p to *mantissa (modulo 2^64) and returns its end. On
// little-endian machines eight bytes are looked at together: the digits among them are found and
// their value formed with a few multiplications instead of a loop and a branch per digit. With
// Terminated the byte at last is white space and text_padding readable bytes follow it, so no
// bound needs checking: every scan stops at that byte at the latest.
template <bool Terminated>
const char* read_digits(const char* p, const char* last, std::uint64_t* mantissa) {
    std::uint64_t m = *mantissa;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint64_t zeros = 0x3030303030303030u;
    constexpr std::uint64_t lows = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    while (Terminated || last - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        // A digit byte turns into 0..9; adding 0x76 sets the top bit of every other byte below
        // 0x80 and the top bit is already set on the rest. A carry out of a byte can only spoil
        // the bytes after the first non-digit, which are not looked at.
        const std::uint64_t values = word ^ zeros;
        const std::uint64_t others = ((values + 0x76 * lows) | values) & highs;
        // The top bit of the first non-digit byte, moved down to bit 0 of its byte, less one:
        // a 0xff byte for each digit in front of it (all eight without any non-digit).
        const std::uint64_t ahead = ((others & (0 - others)) >> 7) - 1;
        const unsigned count = static_cast<unsigned>(((ahead & lows) * lows) >> 56);
        if (count == 0) break;
        // The first digit is the most significant: shifted to the top, the bytes it leaves
        // behind read as leading zeros, and the eight digits combine pairwise, then in fours.
        std::uint64_t chunk = (values & ahead) << (8 * (8 - count));
        chunk = chunk * 10 + (chunk >> 8);
        chunk = (((chunk & 0x000000ff000000ffu) * (100 + (std::uint64_t{1000000} << 32))) +
                 (((chunk >> 16) & 0x000000ff000000ffu) * (1 + (std::uint64_t{10000} << 32)))) >>
                32;
        m = m * integer_powers_of_ten[count] + chunk;
        p += count;
        if (count < 8) {
            *mantissa = m;
            return p;
        }
    }
#endif
    for (; (Terminated || p != last) && is_digit(*p); ++p)
        m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    *mantissa = m;
    return p;
}

// magnitude, negated when negative is set. The sign bit is set directly rather than by a branch
// that the signs of a noise record, as good as random, would keep sending the wrong way.
double with_sign(double magnitude, bool negative) {
    std::uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    bits |= static_cast<std::uint64_t>(negative) << 63;
    std::memcpy(&magnitude, &bits, sizeof bits);
    return magnitude;
}

// The plain decimal numbers recorders write convert with one IEEE multiplication or division of
// two exact doubles when the digits, read as one integer m, are at most 2^53 (so m is a double
// exactly) and the decimal exponent, point included, is at most 22 in magnitude (the power of ten
// is exact): that single rounding is the correctly rounded result strtod gives (Clinger's fast
// path). Reads sign, digits with an optional point and an optional exponent from p and returns
// where the number ends with its value; the end is nullptr for text that is not such a number or
// falls outside those limits, which strtod then has to settle. Terminated as for read_digits.
template <bool Terminated>
ShortDecimal convert_short_decimal_in(const char* p, const char* last) {
    if (!Terminated && p == last) return {nullptr, 0.0};
    const bool negative = *p == '-';
    p += negative || *p == '+';
    // Up to 19 digits fit in 64 bits; more wrap around harmlessly and are turned away below.
    std::uint64_t mantissa = 0;
    const char* const int_digits = p;
    for (; (Terminated || p != last) && is_digit(*p); ++p)
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    std::ptrdiff_t digits = p - int_digits;
    std::ptrdiff_t exponent = 0;
    if ((Terminated || p != last) && *p == '.') {
        const char* const fraction = ++p;
        p = read_digits<Terminated>(p, last, &mantissa);
        exponent = fraction - p;
        digits -= exponent;
    }
    if (digits == 0 || digits > 19)
        return {nullptr, 0.0};  // ".", ".e5", "e5" are no numbers at all
    if ((Terminated || p != last) && (*p == 'e' || *p == 'E')) {
        // Without a digit after it the 'e' and its sign are not part of the number: "1e" is 1.
        const char* q = p + 1;
        const bool negative_exponent = (Terminated || q != last) && *q == '-';
        if ((Terminated || q != last) && (*q == '-' || *q == '+')) ++q;
        if ((Terminated || q != last) && is_digit(*q)) {
            // Any number of exponent digits may follow: the value saturates far outside the fast
            // range, so "1e0000000000000000005" still reads as 1e5 and nothing overflows.
            std::ptrdiff_t written = 0;
            for (; (Terminated || q != last) && is_digit(*q); ++q) {
                if (written < 100000) written = written * 10 + (*q - '0');
            }
            exponent += negative_exponent ? -written : written;
            p = q;
        }
    }
    if (mantissa == 0) return {p, with_sign(0.0, negative)};  // whatever the exponent: "-0" is -0
    if (mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) {
        return {nullptr, 0.0};
    }
    double result = static_cast<double>(mantissa);
    if (exponent < 0) {
        result /= exact_powers_of_ten[-exponent];
    } else {
        result *= exact_powers_of_ten[exponent];
    }
    // Rounding to nearest is symmetric, so the sign can come after the rounding.
    return {p, with_sign(result, negative)};
}

// strtod on a NUL-terminated copy of the whole token: its result may depend on every digit.
double convert_by_strtod(const char* first, const char* last) {
    const std::size_t size = static_cast<std::size_t>(last - first);
    char local[64];
    if (size < sizeof local) {
        std::memcpy(local, first, size);
        local[size] = '\0';
        return text_to_double(local, nullptr);
    }
    const std::string copy(first, last);
    return text_to_double(copy.c_str(), nullptr);
}

}  // namespace

ShortDecimal convert_short_decimal(const char* p) {
    return convert_short_decimal_in<true>(p, nullptr);
}

double convert_number(const char* first, const char* last) {
    const ShortDecimal fast = convert_short_decimal_in<false>(first, last);
    if (fast.end == last) return fast.value;
    // std::from_chars and strtod both round correctly to nearest, so they agree on a plain
    // decimal number that from_chars reads to the token's end. Everything else (hexadecimal, inf,
    // nan, out of range, trailing text, a NUL byte) is left to strtod, the reference.
    const char* start = first;
    const char* digits = first;
    if (first != last && *first == '+') {
        start = digits = first + 1;  // strtod takes one '+', from_chars none
    } else if (first != last && *first == '-') {
        digits = first + 1;
    }
    if (digits != last && (is_digit(*digits) || *digits == '.')) {
        double value = 0.0;
        const auto [end, ec] = std::from_chars(start, last, value, std::chars_format::general);
        if (ec == std::errc() && end == last) return value;
    }
    return convert_by_strtod(first, last);
}

bool convert_token(const char* first, const char* last, double* value) {
    if (first == last) return false;
    const std::size_t size = static_cast<std::size_t>(last - first);
    if (std::memchr(first, '\0', size) != nullptr) return false;
    const ShortDecimal fast = convert_short_decimal_in<false>(first, last);
    if (fast.end == last) {
        *value = fast.value;
        return true;
    }
    // strtod decides, on a NUL-terminated copy: the token is a number only if it reads to its end.
    char local[64];
    std::string copy;
    const char* text = local;
    if (size < sizeof local) {
        std::memcpy(local, first, size);
        local[size] = '\0';
    } else {
        copy.assign(first, last);
        text = copy.c_str();
    }
    char* end = nullptr;
    const double converted = text_to_double(text, &end);
    if (end != text + size) return false;
    *value = converted;
    return true;
}
