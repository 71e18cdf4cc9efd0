#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "fft/fft.h"
#include "fft/fft_pair.h"

using namespace psd;

namespace {

using std::uint32_t;

// The kinds of section the lock-step transforms must treat exactly as the plain ones: ordinary
// noise; signed zeros, whose signs every operation must reproduce; values across the whole
// exponent range, subnormals included, yet small enough that no sum can overflow (the spectrum
// of 2^16 values of at most 2^1000 stays below 2^1020); and values up to the largest double, whose
// sums overflow to infinities that then meet and make NaNs.
enum class Kind { kNoise, kSignedZeros, kAnyMagnitude, kOverflowing };

std::vector<double> section(Kind kind, std::size_t count, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-1074, kind == Kind::kOverflowing ? 1024 : 1000);
    std::vector<double> v(count);
    for (double& x : v) {
        if (kind == Kind::kNoise)
            x = unit(rng);
        else if (kind == Kind::kSignedZeros)
            x = (rng() & 1) ? -0.0 : 0.0;
        else
            x = std::ldexp(unit(rng), exponent(rng));
    }
    return v;
}

// Equal bit patterns. Two NaNs also pass: which NaN an operation keeps follows the operand order
// the compiler chose for the plain routines, and only the overflowing sections produce any.
bool same_bits(const std::vector<double>& got, const std::vector<double>& want) {
    if (got.size() != want.size()) return false;
    for (std::size_t j = 0; j < want.size(); ++j) {
        if (std::memcmp(&got[j], &want[j], sizeof(double)) != 0 &&
            !(std::isnan(got[j]) && std::isnan(want[j])))
            return false;
    }
    return true;
}

// Every pairing of kinds, so that each lane meets each kind while the other lane holds another.
template <typename Check>
void for_each_pair_of_sections(uint32_t count, std::mt19937_64& rng, Check check) {
    const Kind kinds[] = {Kind::kNoise, Kind::kSignedZeros, Kind::kAnyMagnitude,
                          Kind::kOverflowing};
    for (Kind first : kinds)
        for (Kind second : kinds)
            check(section(first, count, rng), section(second, count, rng));
}

}  // namespace

TEST(FftPair, RealPairGivesTheBitsOfTwoPlainTransforms) {
    std::mt19937_64 rng(20261209);
    for (uint32_t n = 2; n <= (1u << 16); n <<= 1) {
        for_each_pair_of_sections(n, rng, [n](std::vector<double> a, std::vector<double> b) {
            std::vector<double> want_a = a, want_b = b;
            drealft(want_a.data(), n, 1);
            drealft(want_b.data(), n, 1);
            drealft_pair(a.data(), b.data(), n);
            EXPECT_TRUE(same_bits(a, want_a)) << "n = " << n << ", first section";
            EXPECT_TRUE(same_bits(b, want_b)) << "n = " << n << ", second section";
        });
    }
}

TEST(FftPair, ComplexPairGivesTheBitsOfTwoPlainTransformsEitherWay) {
    std::mt19937_64 rng(97);
    for (uint32_t ncomplex = 1; ncomplex <= (1u << 15); ncomplex <<= 1) {
        for (std::int32_t sign : {1, -1}) {
            for_each_pair_of_sections(
                2 * ncomplex, rng, [=](std::vector<double> a, std::vector<double> b) {
                    std::vector<double> want_a = a, want_b = b;
                    dfour1(want_a.data(), ncomplex, sign);
                    dfour1(want_b.data(), ncomplex, sign);
                    dfour1_pair(a.data(), b.data(), ncomplex, sign);
                    EXPECT_TRUE(same_bits(a, want_a)) << ncomplex << " points, sign " << sign;
                    EXPECT_TRUE(same_bits(b, want_b)) << ncomplex << " points, sign " << sign;
                });
        }
    }
}
