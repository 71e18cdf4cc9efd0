// The fast path of decimal conversion, in a header so that the sample-line reader has it inlined:
// a recorder's line holds two numbers to convert, and a call for each, with the registers it
// saves and restores, costs a noticeable share of a pass over tens of millions of lines. Only
// the numbers one IEEE operation settles are converted here; the rest go out of line to
// settle_decimal (decimal.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format/decimal.h"
#include "format/text_scan.h"

#if defined(__GNUC__) || defined(__clang__)
#define PSD_ALWAYS_INLINE __attribute__((always_inline)) inline
#define PSD_NOINLINE __attribute__((noinline))
#else
#define PSD_ALWAYS_INLINE inline
#define PSD_NOINLINE
#endif

namespace psd::detail {

// Every power of ten up to 10^22 is a double exactly (5^22 < 2^53); written out so that no
// library pow is involved.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline constexpr std::uint64_t integer_powers_of_ten[] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Appends the run of decimal digits at p to *mantissa (modulo 2^64) and returns its end. On
// little-endian machines eight bytes are looked at together: the digits among them are found and
// their value formed with a few multiplications instead of a loop and a branch per digit. With
// Terminated the byte at last is white space and text_padding readable bytes follow it, so no
// bound needs checking: every scan stops at that byte at the latest.
template <bool Terminated>
PSD_ALWAYS_INLINE const char* read_digits(const char* p, const char* last,
                                          std::uint64_t* mantissa) {
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
        // The digits in front of the first non-digit byte, the lowest one flagged (a count of
        // trailing zero bits, rather than arithmetic on the flags, keeps the chain from one word
        // to the next short).
        const unsigned count = others == 0 ? 8 : static_cast<unsigned>(__builtin_ctzll(others)) / 8;
        if (count == 0) break;
        // The first digit is the most significant: shifted to the top, the bytes after the
        // digits drop out, those it leaves behind read as leading zeros, and the eight digits
        // combine pairwise, then in fours.
        std::uint64_t chunk = values << (8 * (8 - count));
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

// The double of the given magnitude bits, negated when negative is set. The sign bit is set
// directly rather than by a branch that the signs of a noise record, as good as random as they
// are, would keep sending the wrong way.
inline double with_sign(std::uint64_t magnitude, bool negative) {
    const std::uint64_t bits = magnitude | static_cast<std::uint64_t>(negative) << 63;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Adds the exponent written at p ("e-5", "E+12") to *exponent and returns its end; without a digit
// after it the 'e' and its sign are not part of the number ("1e" is 1) and p is returned.
// Terminated as for read_digits.
template <bool Terminated>
PSD_ALWAYS_INLINE const char* read_exponent(const char* p, const char* last,
                                            std::ptrdiff_t* exponent) {
    if (!((Terminated || p != last) && (*p == 'e' || *p == 'E'))) return p;
    const char* q = p + 1;
    const bool negative = (Terminated || q != last) && *q == '-';
    if ((Terminated || q != last) && (*q == '-' || *q == '+')) ++q;
    if (!((Terminated || q != last) && is_digit(*q))) return p;
    // Recorders write two exponent digits ("e-03"): taken together, without the loop's branches.
    // Terminated text has readable bytes up to its padding, so the third is safe to look at.
    if (Terminated && is_digit(q[1]) && !is_digit(q[2])) {
        const std::ptrdiff_t two = (q[0] - '0') * 10 + (q[1] - '0');
        *exponent += negative ? -two : two;
        return q + 2;
    }
    // Any number of exponent digits may follow: the value saturates far outside the range of
    // doubles, so "1e0000000000000000005" still reads as 1e5 and nothing overflows.
    std::ptrdiff_t written = 0;
    for (; (Terminated || q != last) && is_digit(*q); ++q) {
        if (written < 100000) written = written * 10 + (*q - '0');
    }
    *exponent += negative ? -written : written;
    return q;
}

// A plain decimal number as read, before its value is settled: its digits (with the point) span
// [int_digits, digits_end) and its text ends at end; the first 19 significant digits read as one
// integer are mantissa (which wraps around beyond), worth mantissa x 10^exponent.
struct DecimalParts {
    const char* int_digits;
    const char* digits_end;
    const char* end;
    std::uint64_t mantissa;
    std::ptrdiff_t exponent;
    std::ptrdiff_t significant;  // significant digits read
    bool negative;
};

// The value of the numbers the single IEEE operation of the fast path cannot settle: zero, more
// than 19 significant digits, a mantissa beyond 2^53 or a power of ten beyond 10^22. Kept out of
// line, so that the common numbers are converted without saving and restoring the registers this
// needs.
ShortDecimal settle_decimal(const DecimalParts& d);

// The plain decimal numbers recorders write: sign, digits with an optional point and an
// optional exponent, read from p. Returns where strtod would end the number, with its value; the
// end is nullptr for text that is not such a number or a value this path cannot settle, which
// strtod (or std::from_chars, which agrees with it) then has to settle. Terminated as for
// read_digits.
//
// When the digits, read as one integer m, are at most 2^53 (so m is a double exactly) and the
// decimal exponent, point included, is at most 22 in magnitude (the power of ten is exact), one
// IEEE multiplication or division gives the correctly rounded result (Clinger's fast path); up to
// 19 significant digits and any exponent go through scale_by_power_of_ten; longer ones through
// convert_long_decimal.
template <bool Terminated>
PSD_ALWAYS_INLINE ShortDecimal convert_short_decimal_in(const char* p, const char* last) {
    if (!Terminated && p == last) return {nullptr, 0.0};
    const bool negative = *p == '-';
    p += negative || *p == '+';
    // Up to 19 digits fit in 64 bits; more wrap around harmlessly and are dealt with below.
    std::uint64_t mantissa = 0;
    const char* const int_digits = p;
    for (; (Terminated || p != last) && is_digit(*p); ++p)
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    std::ptrdiff_t digits = p - int_digits;
    // "0x" opens a hexadecimal number for strtod.
    if (digits == 1 && mantissa == 0 && (Terminated || p != last) && (*p | 0x20) == 'x') {
        return {nullptr, 0.0};
    }
    // Leading zeros are no significant digits ("0.000123..." of %.17g); those before other digits
    // of the integer part are rare enough to be counted, and sorted out when the count exceeds 19
    // (as is a mantissa that wrapped around to 0).
    std::ptrdiff_t significant = mantissa == 0 && digits <= 19 ? 0 : digits;
    std::ptrdiff_t exponent = 0;
    if ((Terminated || p != last) && *p == '.') {
        const char* const fraction = ++p;
        if (mantissa == 0) {
            while ((Terminated || p != last) && *p == '0')
                ++p;
        }
        const char* const leading = p;
        p = read_digits<Terminated>(p, last, &mantissa);
        exponent = fraction - p;
        digits -= exponent;
        significant += p - leading;
    }
    if (digits == 0) return {nullptr, 0.0};  // ".", ".e5", "e5" are no numbers at all
    const char* const digits_end = p;
    p = read_exponent<Terminated>(p, last, &exponent);
    if (significant > 19 || mantissa == 0 || mantissa > (std::uint64_t{1} << 53) ||
        exponent < -22 || exponent > 22) {
        return settle_decimal(
            DecimalParts{int_digits, digits_end, p, mantissa, exponent, significant, negative});
    }
    double result = static_cast<double>(mantissa);
    if (exponent < 0) {
        result /= exact_powers_of_ten[-exponent];
    } else {
        result *= exact_powers_of_ten[exponent];
    }
    std::uint64_t bits;
    std::memcpy(&bits, &result, sizeof bits);
    return {p, with_sign(bits, negative)};
}

}  // namespace psd::detail
