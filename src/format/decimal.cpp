#include "format/decimal.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "format/text_scan.h"
#include "internal/decimal_powers.h"
#include "internal/short_decimal.h"
#include "platform/text_to_double.h"

namespace psd {

using namespace detail;

namespace {

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

namespace detail {

PSD_NOINLINE ShortDecimal settle_decimal(const DecimalParts& d) {
    std::uint64_t bits = 0;
    if (d.significant > 19) {
        // The mantissa no longer holds the number (or a count that took leading zeros of the
        // integer part for significant digits says so).
        bits = convert_long_decimal(d.int_digits, d.digits_end, d.exponent);
    } else if (d.mantissa != 0) {
        bits = scale_by_power_of_ten(d.mantissa, d.exponent);
    }  // else whatever the exponent: "-0" is -0
    if (bits == unsettled) return {nullptr, 0.0};
    // Rounding to nearest is symmetric, so the sign can come after the rounding.
    return {d.end, with_sign(bits, d.negative)};
}

}  // namespace detail

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
