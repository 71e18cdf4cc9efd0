#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "format/decimal.h"
#include "format/internal/decimal_powers.h"
#include "format/text_scan.h"
#include "platform/text_to_double.h"
#include "test_support.h"

using namespace psd;

namespace {

// Equal bits, or both NaN of the same sign (payloads are not compared).
bool same(double a, double b) {
    return bits(a) == bits(b) ||
           (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b));
}

// The token in a terminated, padded buffer, as the sample reader holds its text.
std::string padded(const std::string& token) {
    return token + ' ' + std::string(text_padding, ' ');
}

// Every entry point against strtod (glibc's results on every platform) on token: the longest
// prefix's value, whether the whole token is a number and its value, and what the fast path settles
// (its end where strtod's is).
void expect_as_strtod(const std::string& token) {
    char* end = nullptr;
    const double want = text_to_double(token.c_str(), &end);
    const std::size_t read = static_cast<std::size_t>(end - token.c_str());
    const bool whole = !token.empty() && read == token.size();
    const char* first = token.data();
    const char* last = first + token.size();
    EXPECT_PRED2(same, convert_number(first, last), want) << '"' << token << '"';
    double value = 0.0;
    EXPECT_EQ(convert_token(first, last, &value), whole) << '"' << token << '"';
    if (whole) {
        EXPECT_PRED2(same, value, want) << '"' << token << '"';
    }
    const std::string text = padded(token);
    if (token.find_first_of(" \t\n\v\f\r") == std::string::npos) {
        EXPECT_EQ(convert_padded_token(text.data(), text.data() + token.size(), &value), whole)
            << '"' << token << '"';
        if (whole) {
            EXPECT_PRED2(same, value, want) << '"' << token << '"';
        }
    }
    const ShortDecimal fast = convert_short_decimal(text.data());
    if (fast.end != nullptr) {
        EXPECT_EQ(static_cast<std::size_t>(fast.end - text.data()), read) << '"' << token << '"';
        EXPECT_PRED2(same, fast.value, want) << '"' << token << '"';
    }
}

const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

// Tokens beside the double they denote, rounded to nearest with ties to even. The values are
// exact hexadecimal forms worked out apart from any C library: by hand for the halfway cases
// (2^53 + 1 and 1 + 2^-53 lie halfway between two doubles and go to the even one; one more
// digit decides a tie), by exact rational arithmetic for the rest.
struct Conversion {
    const char* token;
    double value;
};
// clang-format off
const Conversion conversions[] = {
    {"1.5", 0x1.8p+0}, {"-2.25", -0x1.2p+1}, {"+3", 0x1.8p+1}, {"1E-2", 0x1.47ae147ae147bp-7},
    {"2.5e+1", 0x1.9p+4}, {".5", 0x1p-1}, {"5.", 0x1.4p+2}, {"0.1", 0x1.999999999999ap-4},
    {"-0", -0.0}, {"-0.0e-999", -0.0}, {"+.25E+02", 0x1.9p+4},
    {"1.234000e-01", 0x1.f972474538ef3p-4}, {"-3.456789e-04", -0x1.6a7879206dd7dp-12},
    {"5.678901e-09", 0x1.8640486d6eee9p-28}, {"1.234e-30", 0x1.9074b58c7cacap-100},
    {"1.2345678901234567e-05", 0x1.9e409302678bap-17},          // %.17g
    {"-0.00012345678901234567", -0x1.02e85be180b74p-13},        // leading zeros, 17 digits
    {"1e22", 0x1.0f0cf064dd592p+73}, {"1e23", 0x1.52d02c7e14af6p+76},
    {"1e-23", 0x1.82db34012b251p-77}, {"0.000000000000000000000000000001", 0x1.4484bfeebc2ap-100},
    {"9007199254740993", 0x1p+53},                              // 2^53 + 1: tie, down to even
    {"9007199254740995", 0x1.0000000000002p+53},                // 2^53 + 3: tie, up to even
    {"9007199254740993.0000000000000000001", 0x1.0000000000001p+53},
    {"1.00000000000000011102230246251565404236316680908203125", 0x1p+0},  // 1 + 2^-53
    {"1.00000000000000033306690738754696212708950042724609375", 0x1.0000000000002p+0},
    {"7.2057594037927933e16", 0x1p+56},
    {"1234567890123456789", 0x1.12210f47de981p+60}, {"12345678901234567890", 0x1.56a95319d63e1p+63},
    {"18446744073709551615", 0x1p+64}, {"123456789012345678901234567890", 0x1.8ee90ff6c373ep+96},
    {"1e308", 0x1.1ccf385ebc8ap+1023}, {"1.7976931348623157e308", 0x1.fffffffffffffp+1023},
    {"1.7976931348623158e308", 0x1.fffffffffffffp+1023},       // below the halfway point to 2^1024
    {"1.7976931348623159e308", inf}, {"1e309", inf}, {"-1e400", -inf},
    {"2.2250738585072014e-308", 0x1p-1022}, {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
    {"4.9406564584124654e-324", 0x1p-1074}, {"8.9e-324", 0x1p-1073},
    {"2.4703282292062328e-324", 0x1p-1074},                     // just above half of 2^-1074
    {"2.4703282292062327e-324", 0.0}, {"-1e-400", -0.0}, {"4e-320", 0x0.0000000001fap-1022},
    {"-2.5e-310", -0x0.02e055c9a3f6cp-1022},
    {"1e", 0x1p+0}, {"1e+", 0x1p+0}, {"1.5abc", 0x1.8p+0}, {"1_000", 0x1p+0},   // trailing text
    {"abc", 0.0}, {"", 0.0}, {"-", 0.0}, {"+-1", 0.0}, {".e3", 0.0}, {"\x01\xff", 0.0},
    {"0x1.8p1", 0x1.8p+1}, {"-0x10", -0x1p+4}, {"0X10", 0x1p+4}, {"0x", 0.0}, {"0xg", 0.0},
    {"-Infinity", -inf}, {"INFINITE", inf}, {"nan", nan}, {"-NAN", -nan}, {"NaN(42)", nan},
    {"+nan", nan}, {" \t7", 0x1.cp+2}, {"--1", 0.0}, {"-.e3", 0.0},
};
// clang-format on

// Whether strtod reads each token to its end.
struct Verdict {
    const char* token;
    bool whole;
};
const Verdict verdicts[] = {
    {"12", true},    {"-1.5e-3", true},   {"+7", true},    {".5", true},   {"0x1p-3", true},
    {"inf", true},   {"nan", true},       {"1e5", true},   {"1,5", false}, {"0.0,1.2e-3", false},
    {"Time", false}, {"12:00:01", false}, {"1.5V", false}, {"2e", false},  {"-", false},
    {"1e+", false},  {".", false},        {"", false},     {"+-1", false}, {"1.5e3x", false},
};

// A little unsigned big integer, little-endian 32-bit limbs, for checking the table exactly.
using Big = std::vector<std::uint32_t>;

Big big(std::uint64_t high, std::uint64_t low) {
    return {static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(low >> 32),
            static_cast<std::uint32_t>(high), static_cast<std::uint32_t>(high >> 32)};
}

Big times(const Big& a, const Big& b) {
    Big product(a.size() + b.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.size(); ++j) {
            carry += static_cast<std::uint64_t>(a[i]) * b[j] + product[i + j];
            product[i + j] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        product[i + b.size()] = static_cast<std::uint32_t>(carry);
    }
    return product;
}

Big power(std::uint32_t base, int exponent) {
    Big result{1};
    for (int i = 0; i < exponent; ++i)
        result = times(result, Big{base});
    return result;
}

int compare(Big a, Big b) {
    while (!a.empty() && a.back() == 0)
        a.pop_back();
    while (!b.empty() && b.back() == 0)
        b.pop_back();
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

}  // namespace

TEST(Decimal, GivesTheCorrectlyRoundedDoubleOfEveryForm) {
    for (const auto& c : conversions) {
        const std::string token = c.token;
        EXPECT_PRED2(same, convert_number(token.data(), token.data() + token.size()), c.value)
            << '"' << token << '"';
        expect_as_strtod(token);  // and every entry point agrees with the C library
    }
    // Hundreds of digits either way.
    const std::string overflow = "1" + std::string(999, '0');
    const std::string underflow = "0." + std::string(400, '0') + "1";
    EXPECT_PRED2(same, convert_number(overflow.data(), overflow.data() + overflow.size()), inf);
    EXPECT_PRED2(same, convert_number(underflow.data(), underflow.data() + underflow.size()), 0.0);
    expect_as_strtod(overflow);
    expect_as_strtod(underflow);
}

TEST(Decimal, AcceptsATokenOnlyWhenStrtodReadsItToItsEnd) {
    for (const auto& v : verdicts) {
        const std::string token = v.token;
        double value = -1.0;
        EXPECT_EQ(convert_token(token.data(), token.data() + token.size(), &value), v.whole)
            << '"' << token << '"';
        const std::string text = padded(token);
        EXPECT_EQ(convert_padded_token(text.data(), text.data() + token.size(), &value), v.whole)
            << '"' << token << '"';
    }
    const std::string with_nul("12\00034", 5);
    double value = 0.0;
    EXPECT_FALSE(convert_token(with_nul.data(), with_nul.data() + with_nul.size(), &value));
    EXPECT_EQ(convert_number(with_nul.data(), with_nul.data() + with_nul.size()), 12.0);
}

// Every entry must be 5^q scaled by 2^-s and rounded down to 128 bits: T 2^s <= 5^q < (T+1) 2^s,
// checked with exact integers as T B <= A < (T + 1) B.
TEST(Decimal, PowersOfFiveTableHoldsEachPowerRoundedDownTo128Bits) {
    const int count = largest_power_of_five - smallest_power_of_five + 1;
    ASSERT_EQ(std::size(powers_of_five), static_cast<std::size_t>(count));
    ASSERT_EQ(std::size(powers_of_five_exponents), static_cast<std::size_t>(count));
    for (int q = smallest_power_of_five; q <= largest_power_of_five; ++q) {
        const std::uint64_t* t = powers_of_five[q - smallest_power_of_five];
        const int s = powers_of_five_exponents[q - smallest_power_of_five];
        ASSERT_NE(t[0] >> 63, 0u) << "5^" << q;
        ASSERT_FALSE(t[0] == ~std::uint64_t{0} && t[1] == ~std::uint64_t{0}) << "5^" << q;
        const Big a = times(power(5, q > 0 ? q : 0), power(2, s < 0 ? -s : 0));
        const Big b = times(power(5, q < 0 ? -q : 0), power(2, s > 0 ? s : 0));
        const Big t_plus_one = big(t[0] + (t[1] == ~std::uint64_t{0}), t[1] + 1);
        EXPECT_LE(compare(times(big(t[0], t[1]), b), a), 0) << "5^" << q;
        EXPECT_LT(compare(a, times(t_plus_one, b)), 0) << "5^" << q;
    }
}

// strtod is the reference: random tokens of every form a recorder or a hand may write, with
// near-halfway values (printed from long double midpoints of adjacent doubles), exact halfway
// integers, subnormals, long digit strings, any exponent, signs and trailing text.
TEST(Decimal, MatchesStrtodOnRandomTokensOfEveryForm) {
    std::mt19937_64 rng(20261209);
    auto pick = [&rng](unsigned n) { return static_cast<int>(rng() % n); };
    const char* const signs[] = {"", "+", "-"};
    char text[96];
    for (int i = 0; i < 300000; ++i) {
        std::string token;
        const std::uint64_t random_bits = rng();
        double d = 0.0;
        std::memcpy(&d, &random_bits, sizeof d);
        if (std::isnan(d)) d = 1.0;
        const double scaled = std::ldexp(static_cast<double>(rng() >> 11), pick(2200) - 1140);
        switch (pick(6)) {
            case 0:  // printf forms of any double
                std::snprintf(text, sizeof text, pick(2) ? "%.*e" : "%.*g", pick(22), d);
                token = text;
                break;
            case 1: {  // near a halfway point, normal or subnormal
                const double x = pick(2) ? scaled : std::ldexp(scaled, -60);
                const long double mid = (static_cast<long double>(x) + std::nextafter(x, inf)) / 2;
                std::snprintf(text, sizeof text, "%.*Le", 14 + pick(10), mid);
                token = text;
                break;
            }
            case 2: {  // exactly halfway: (2m + 1) 2^k with a 53-bit m, 17 to 20 digits
                const std::uint64_t m = (rng() >> 12) | (std::uint64_t{1} << 52);
                token = std::to_string((2 * m + 1) << pick(11));
                break;
            }
            case 3: {  // digits, point and exponent at random
                std::string digits(pick(4) == 0 ? pick(30) : 0, '0');
                for (int n = 1 + pick(26); n > 0; --n)
                    digits += static_cast<char>('0' + pick(10));
                if (pick(2)) digits.insert(digits.size() - pick(9) % (digits.size() + 1), ".");
                token = signs[pick(3)] + digits;
                if (pick(4))
                    token += (pick(2) ? "e" : "E") + std::string(signs[pick(3)]) +
                             std::to_string(pick(800) - 400);
                break;
            }
            case 4:  // recorder forms
                std::snprintf(text, sizeof text, pick(2) ? "%+.6e" : "%.6e",
                              std::ldexp(static_cast<double>(rng() >> 11), -pick(160)));
                token = text;
                break;
            default:  // a valid number followed by something that may or may not continue it
                std::snprintf(text, sizeof text, "%.*g", pick(18), scaled);
                token = std::string(text) + "e+-.x0 "[pick(7)] + (pick(2) ? "5" : "");
                break;
        }
        expect_as_strtod(token);
        if (HasFailure()) break;
    }
}

// Plain decimal numbers convert with one IEEE operation when their digits form an integer of at
// most 2^53 and the decimal exponent stays within 22 either way, through the 128-bit product up to
// 19 significant digits, and by bounding the value beyond; the cases stand on both sides of each
// limit, with strtod as the reference for every one of them.
TEST(Decimal, MatchesStrtodOnBothSidesOfEachLimitOfTheFastRoutes) {
    auto expect_strtod = [](const std::string& token) { expect_as_strtod(token); };
    for (const char* token : {"999999999999999",       // 15 digits
                              "9007199254740992",      // 2^53: the largest integer taken as it is
                              "9007199254740993",      // 2^53 + 1: halfway, left to strtod
                              "9007199254740995",      // halfway again, rounds up to even
                              "1234567890123456789",   // 19 digits, beyond 2^53
                              "12345678901234567890",  // 20 digits would wrap 64 bits
                              "9.007199254740993e15",  // 2^53 + 1 written with a point
                              "1e22",
                              "1e23",  // 10^22 is the largest exact power; 10^23 is not exact
                              "1e-22",
                              "1e-23",
                              "-4.5e+22",
                              "123456789012345e-22",
                              "0.1e23",
                              "1e-0022",
                              "1e+022",
                              "1e0000000000000000005",
                              "1e99999999999999999999",
                              "1e-99999999999999999999",
                              "1e18446744073709551621",  // 2^64 + 5 exponent: must not wrap to 5
                              "1e-18446744073709551621",
                              "0e99999999999999999999",
                              "-0e-99999",
                              "-0",
                              "-0.0",
                              "+0.000",
                              "00000000000000000001.5",
                              "0.00000000000000000000000001",
                              "000000000000000000000",
                              "1.",
                              ".5",
                              "-.5e1",
                              "1e",
                              "1e+",
                              "1e-",
                              "1.5abc",
                              "1.5e3x",
                              ".e5",
                              "e5",
                              ".",
                              "+.e1",
                              "-",
                              "+",
                              "1..2",
                              "1.2.3",
                              "1e5.5",
                              "4.9406564584124654e-324",
                              "1.7976931348623157e308",
                              "3.497992e-01",
                              "-6.044793e-10",
                              "1.000000e+00"}) {
        expect_strtod(token);
    }
}

// Random tokens in every form the exact route takes, and just beyond it.
TEST(Decimal, MatchesStrtodOnRandomTokensAroundTheFastRoutes) {
    auto expect_strtod = [](const std::string& token) { expect_as_strtod(token); };
    std::mt19937 rng(20240611);
    auto pick = [&rng](unsigned n) { return rng() % n; };
    const char* const signs[] = {"", "+", "-"};
    auto digits = [&](unsigned n) {
        std::string text;
        for (unsigned i = 0; i < n; ++i)
            text += static_cast<char>('0' + pick(10));
        return text;
    };
    for (int i = 0; i < 100000; ++i) {
        std::string token = signs[pick(3)];
        token += std::string(pick(4) == 0 ? pick(4) : 0, '0') + digits(pick(11));
        if (pick(3) != 0) token += "." + digits(pick(13));
        if (pick(2) != 0) {
            token += pick(2) != 0 ? "e" : "E";
            token += signs[pick(3)];
            token += std::string(pick(5) == 0 ? pick(3) : 0, '0') + std::to_string(pick(30));
        }
        expect_strtod(token);
    }
    for (int i = 0; i < 100000; ++i) {
        const double value =
            std::ldexp(static_cast<double>(rng()), static_cast<int>(pick(120)) - 90);
        char text[64];
        std::snprintf(text, sizeof text, pick(2) != 0 ? "%.*e" : "%.*g", static_cast<int>(pick(18)),
                      pick(2) != 0 ? -value : value);
        expect_strtod(text);
    }
}
