#include "format/decimal.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "format/text_scan.h"
#include "internal/decimal_powers.h"
#include "platform/text_to_double.h"

namespace psd {

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
double with_sign(std::uint64_t magnitude, bool negative) {
    const std::uint64_t bits = magnitude | static_cast<std::uint64_t>(negative) << 63;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Bits of a double, or of no result: a NaN pattern that no conversion here gives.
constexpr std::uint64_t unsettled = ~std::uint64_t{0};
constexpr std::uint64_t infinity_bits = std::uint64_t{0x7ff} << 52;

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 uint128;

// The bits of the double nearest to w x 10^q, ties to even, or unsettled when that cannot be told
// for sure from the 128-bit truncation of 5^q (within a whisker of a halfway point: then the
// caller asks the C library). REQUIRES: w > 0.
//
// With w shifted left until its top bit is set (w x 2^lz) and T <= 5^q / 2^s < T + 1 from the
// table, the exact E = w 2^lz 5^q / 2^s satisfies w 2^lz T <= E < w 2^lz T + 2^64. Q, the top 128
// bits of the 192-bit product w 2^lz T, thus has E / 2^64 in [Q, Q + 2), and the value is
// E x 2^(q + s - lz). Its leading 53 bits (fewer for a subnormal) are the double's significand;
// the bits below decide the rounding, and only when they lie within 2 of one half does the
// interval [Q, Q + 2) leave the rounding open.
inline std::uint64_t scale_by_power_of_ten(std::uint64_t w, std::int64_t q) {
    if (q < smallest_power_of_five) {  // w x 10^q < 2^64 x 10^-343, below half the least double
        return 0;
    }
    if (q > largest_power_of_five) return infinity_bits;  // at least 10^309
    const int lz = __builtin_clzll(w);
    const std::uint64_t normalized = w << lz;
    const std::uint64_t* const t = powers_of_five[q - smallest_power_of_five];
    const uint128 first = static_cast<uint128>(normalized) * t[0];
    const auto carry_in =
        static_cast<std::uint64_t>((static_cast<uint128>(normalized) * t[1]) >> 64);
    std::uint64_t low = static_cast<std::uint64_t>(first) + carry_in;
    std::uint64_t high = static_cast<std::uint64_t>(first >> 64) + (low < carry_in);
    // normalized >= 2^63 and T >= 2^127, so the top bit of Q is bit 126 or 127; as a number
    // rather than a branch, as good as random as it is.
    const int upper = static_cast<int>(high >> 63);
    // The biased exponent the double gets when it is normal: its significand is then
    // Q / 2^(74 + upper), between 2^52 and 2^53.
    const int exponent = 126 + upper + powers_of_five_exponents[q - smallest_power_of_five] +
                         static_cast<int>(q) - lz + 1087;
    std::uint64_t bits = 0;
    if (exponent >= 1) {
        // The round bit is bit 9 + upper of the high word; the bits below it, with the low
        // word, are the rest.
        const int round_bit = 9 + upper;
        const std::uint64_t kept = high >> round_bit;
        const std::uint64_t below_mask = (std::uint64_t{1} << round_bit) - 1;
        const std::uint64_t below = high & below_mask;
        const std::uint64_t round_up = kept & 1;
        // Too close to call: the rest is exactly half (round bit set, nothing below it) or one
        // short of it (round bit clear, all ones below). Flipping the bits below when the round
        // bit is clear makes that one test, without a branch on the round bit, which is as good
        // as random.
        const std::uint64_t flip = round_up - 1;
        if (((below ^ (flip & below_mask)) | (low ^ flip)) == 0) return unsettled;
        const std::uint64_t significand = (kept >> 1) + round_up;
        // Adding the significand to the exponent field (one less, for its leading bit) carries
        // a rounding up to 2^53 into the exponent, as the bit layout has it.
        bits = (static_cast<std::uint64_t>(exponent - 1) << 52) + significand;
        if (bits > infinity_bits) bits = infinity_bits;
    } else {
        // A subnormal keeps the exponent of the least normal double and loses significand
        // bits; one rounding up to 2^52 becomes the least normal double.
        const int shift = 75 + upper - exponent;
        if (shift >= 128) {
            if (shift < 130) return unsettled;  // around half the least subnormal
            return 0;                           // below a quarter of it
        }
        const uint128 product = (static_cast<uint128>(high) << 64) | low;
        const uint128 half = static_cast<uint128>(1) << (shift - 1);
        const uint128 rest = product & ((half << 1) - 1);
        if (rest - (half - 1) <= 1)
            return unsettled;  // rest is half - 1 or half: too close to call
        bits =
            static_cast<std::uint64_t>(product >> shift) + static_cast<std::uint64_t>(rest > half);
    }
    return bits;
}
#else
// Without 128-bit integers every number outside the exact fast path goes to the C library.
std::uint64_t scale_by_power_of_ten(std::uint64_t, std::int64_t) {
    return unsettled;
}
#endif

// A decimal whose digits (with the point) span [first, last) and are worth their integer value
// x 10^exponent, of any number of digits. Its first 19 significant digits w bound it between
// w x 10^q and (w + 1) x 10^q; when both round to the same double, so does the number (and when
// no other digit follows, w x 10^q is the number). Returns that double's bits or unsettled.
std::uint64_t convert_long_decimal(const char* first, const char* last, std::int64_t exponent) {
    const char* p = first;
    while (p != last && (*p == '0' || *p == '.'))
        ++p;
    std::uint64_t w = 0;
    for (int taken = 0; p != last && taken < 19; ++p) {
        if (*p == '.') continue;
        w = w * 10 + static_cast<std::uint64_t>(*p - '0');
        ++taken;
    }
    bool exact = true;  // no nonzero digit beyond the first 19
    for (; p != last; ++p) {
        if (*p == '.') continue;
        ++exponent;
        exact = exact && *p == '0';
    }
    if (w == 0) return 0;
    const std::uint64_t low = scale_by_power_of_ten(w, exponent);
    if (exact || low == unsettled) return low;
    return scale_by_power_of_ten(w + 1, exponent) == low ? low : unsettled;
}

// Adds the exponent written at p ("e-5", "E+12") to *exponent and returns its end; without a digit
// after it the 'e' and its sign are not part of the number ("1e" is 1) and p is returned.
// Terminated as for read_digits.
template <bool Terminated>
const char* read_exponent(const char* p, const char* last, std::ptrdiff_t* exponent) {
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
ShortDecimal convert_short_decimal_in(const char* p, const char* last) {
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
    std::uint64_t bits = 0;
    if (significant > 19) {
        // The mantissa no longer holds the number (or a count that took leading zeros of the
        // integer part for significant digits says so).
        bits = convert_long_decimal(int_digits, digits_end, exponent);
        if (bits == unsettled) return {nullptr, 0.0};
        return {p, with_sign(bits, negative)};
    }
    if (mantissa == 0) return {p, with_sign(0, negative)};  // whatever the exponent: "-0" is -0
    if (mantissa <= (std::uint64_t{1} << 53) && exponent >= -22 && exponent <= 22) {
        double result = static_cast<double>(mantissa);
        if (exponent < 0) {
            result /= exact_powers_of_ten[-exponent];
        } else {
            result *= exact_powers_of_ten[exponent];
        }
        std::memcpy(&bits, &result, sizeof bits);
    } else {
        bits = scale_by_power_of_ten(mantissa, exponent);
        if (bits == unsettled) return {nullptr, 0.0};
    }
    // Rounding to nearest is symmetric, so the sign can come after the rounding.
    return {p, with_sign(bits, negative)};
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

// std::from_chars and strtod both round correctly to nearest, so they agree on a plain decimal
// number that from_chars reads to the token's end; *value is set when it does. Everything else
// (hexadecimal, inf, nan, out of range, trailing text, a NUL byte) is left to strtod.
bool convert_by_from_chars(const char* first, const char* last, double* value) {
    const char* start = first;
    const char* digits = first;
    if (first != last && *first == '+') {
        start = digits = first + 1;  // strtod takes one '+', from_chars none
    } else if (first != last && *first == '-') {
        digits = first + 1;
    }
    if (digits == last || !(is_digit(*digits) || *digits == '.')) return false;
    double converted = 0.0;
    const auto [end, ec] = std::from_chars(start, last, converted, std::chars_format::general);
    if (ec != std::errc() || end != last) return false;
    *value = converted;
    return true;
}

}  // namespace

ShortDecimal convert_short_decimal(const char* p) {
    return convert_short_decimal_in<true>(p, nullptr);
}

double convert_number(const char* first, const char* last) {
    const ShortDecimal fast = convert_short_decimal_in<false>(first, last);
    if (fast.end == last) return fast.value;
    double value = 0.0;
    if (convert_by_from_chars(first, last, &value)) return value;
    return convert_by_strtod(first, last);
}

bool convert_token(const char* first, const char* last, double* value) {
    const ShortDecimal fast = convert_short_decimal_in<false>(first, last);
    if (fast.end == last && first != last) {
        *value = fast.value;
        return true;
    }
    if (convert_by_from_chars(first, last, value)) return true;
    // strtod decides, on a NUL-terminated copy: the token is a number only if it reads to its
    // end, and a NUL byte would end it early.
    const std::size_t size = static_cast<std::size_t>(last - first);
    if (size == 0 || std::memchr(first, '\0', size) != nullptr) return false;
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

bool convert_padded_token(const char* first, const char* last, double* value) {
    // The number read from first on ends at last exactly when it is the whole token; reading on
    // into the text after it only takes what the bounded reading would stop at.
    const ShortDecimal fast = convert_short_decimal_in<true>(first, nullptr);
    if (fast.end == last) {
        *value = fast.value;
        return true;
    }
    return convert_token(first, last, value);
}

}  // namespace psd
