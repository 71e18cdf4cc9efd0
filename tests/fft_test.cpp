#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "fft/fft.h"

namespace {

using std::uint32_t;
using LComplex = std::complex<long double>;

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr float kEpsF = std::numeric_limits<float>::epsilon();
constexpr double kPi = 3.141592653589793;
constexpr long double kPiL = 3.141592653589793238462643383279502884L;
const double kHalfRoot2 = std::sqrt(2.0) / 2;

// The largest size checked against the direct sum. Up to here even the worst-case rounding of
// the long double reference (n * 2^-64 * sum|x|, under 1e-15 sum|x|) stays well inside the
// bound it checks.
constexpr uint32_t kLargestChecked = 1u << 14;

// How far a transform may stray from the exact one: max |error| <= kSlack * log2(n) * eps *
// sum|x|. Each pass rounds its partial sums, all bounded by sum|x|, about once. On top of that the
// angle constant 6.28318530717959 exceeds 2 pi by d = 3.5e-15 (15.9 eps), so in a pass of
// 2m-point transforms twiddle j turns j d / 2m too far; half the terms go through a twiddle, and
// bin n - 1, which meets twiddle m - 1 in every pass, gathers close to d / 4 = 4 eps of phase per
// pass. For an exponential peaking there all n terms drift together, so that is the worst input:
// measured 3.9 at n = 2^14 (slowly rising with the recurrence's rounding), against below 0.8 for
// uniform random data and under 1.8 for a real cosine. kSlack = 5 holds the worst case with a
// little room; a wrong sign, twiddle or pairing misses by orders of magnitude.
constexpr double kSlack = 5.0;

double log2_of(uint32_t n) {
    return std::log2(static_cast<double>(n));
}

std::vector<double> uniform_values(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> v(count);
    for (double& x : v)
        x = dist(rng);
    return v;
}

// exp(2 pi i k0 p / n) for p = 0..n-1, interleaved.
std::vector<double> exponential(uint32_t n, uint32_t k0) {
    std::vector<double> v(2 * n);
    for (uint32_t p = 0; p < n; ++p) {
        const long double angle =
            2 * kPiL * static_cast<long double>((std::uint64_t{p} * k0) % n) / n;
        v[2 * p] = static_cast<double>(std::cos(angle));
        v[2 * p + 1] = static_cast<double>(std::sin(angle));
    }
    return v;
}

long double abs_sum(const std::vector<double>& interleaved) {
    long double sum = 0;
    for (std::size_t p = 0; p + 1 < interleaved.size(); p += 2)
        sum += std::abs(LComplex(interleaved[p], interleaved[p + 1]));
    return sum;
}

long double root_sum_square(const std::vector<double>& v) {
    long double sum = 0;
    for (double x : v)
        sum += static_cast<long double>(x) * x;
    return std::sqrt(sum);
}

// A forward and inverse pair is stable in the 2-norm: the error vector's norm stays within a
// small multiple of log2(n) * eps * ||scale * x||, and one element's error is at most that norm.
// Measured worst case 0.4 of log2(n) * eps * scale * ||x|| (at n = 2), under 0.1 from n = 16 on.
double round_trip_bound(uint32_t n, double scale, const std::vector<double>& x) {
    return kSlack * std::max(1.0, log2_of(n)) * kEps * scale *
           static_cast<double>(root_sum_square(x));
}

// The unscaled DFT with kernel exp(sign 2 pi i p k / n), summed term by term in long double with
// the n-th roots of unity tabulated once.
class DirectDft {
  public:
    explicit DirectDft(uint32_t n) : n_(n), roots_(n) {
        for (uint32_t m = 0; m < n; ++m)
            roots_[m] = std::polar(1.0L, 2 * kPiL * m / n);
    }
    LComplex bin(const std::vector<double>& interleaved, uint32_t k, int sign) const {
        LComplex sum = 0;
        for (uint32_t p = 0; p < n_; ++p) {
            const uint32_t m = static_cast<uint32_t>((std::uint64_t{p} * k) % n_);
            const LComplex root = sign > 0 ? roots_[m] : std::conj(roots_[m]);
            sum += LComplex(interleaved[2 * p], interleaved[2 * p + 1]) * root;
        }
        return sum;
    }

  private:
    uint32_t n_;
    std::vector<LComplex> roots_;
};

// Every bin for small sizes; for larger ones the edges, the quarter bin and a spread of others.
std::vector<uint32_t> bins_to_check(uint32_t count, uint32_t extra) {
    std::vector<uint32_t> bins;
    if (count <= 1025) {
        for (uint32_t k = 0; k < count; ++k)
            bins.push_back(k);
        return bins;
    }
    bins = {0, 1, count / 4, count / 2, count - 1, extra % count};
    for (uint32_t j = 1; j <= 48; ++j)
        bins.push_back(static_cast<uint32_t>((j * 2654435761u) % count));
    return bins;
}

// ---------------------------------------------------------------------------------------------
// Complex transform

TEST(Dfour1, LeavesASinglePointUnchanged) {
    for (int sign : {1, -1}) {
        std::vector<double> d = {0.25, -3.5};
        dfour1(d.data(), 1, sign);
        EXPECT_EQ(d, (std::vector<double>{0.25, -3.5})) << "sign " << sign;
    }
}

TEST(Dfour1, TurnsTwoPointsIntoTheirSumAndDifference) {
    // (1 + 2i) + (3 + 4i) = 4 + 6i and (1 + 2i) - (3 + 4i) = -2 - 2i, whatever the sign.
    for (int sign : {1, -1}) {
        std::vector<double> d = {1, 2, 3, 4};
        dfour1(d.data(), 2, sign);
        EXPECT_EQ(d, (std::vector<double>{4, 6, -2, -2})) << "sign " << sign;
    }
}

TEST(Dfour1, SendsAnExponentialToTheBinItsSignSelects) {
    // x[p] = exp(+2 pi i p / 8): the kernel exp(+...) adds the angles and lands on bin 7 (= -1),
    // exp(-...) cancels them and lands on bin 1.
    for (auto [sign, peak] : {std::pair{1, 7u}, std::pair{-1, 1u}}) {
        std::vector<double> d = exponential(8, 1);
        dfour1(d.data(), 8, sign);
        for (uint32_t k = 0; k < 8; ++k) {
            EXPECT_NEAR(d[2 * k], k == peak ? 8.0 : 0.0, 1e-14) << "sign " << sign << " bin " << k;
            EXPECT_NEAR(d[2 * k + 1], 0.0, 1e-14) << "sign " << sign << " bin " << k;
        }
    }
}

TEST(Dfour1, TurnsAnImpulseAtPointOneIntoPowersOfTheKernel) {
    // X[k] = exp(+2 pi i k / 8): the eighth roots of unity in order, 1, (1 + i)/sqrt2, i, ...
    const double expect[8][2] = {
        {1, 0},  {kHalfRoot2, kHalfRoot2},   {0, 1},  {-kHalfRoot2, kHalfRoot2},
        {-1, 0}, {-kHalfRoot2, -kHalfRoot2}, {0, -1}, {kHalfRoot2, -kHalfRoot2}};
    std::vector<double> d(16, 0.0);
    d[2] = 1;
    dfour1(d.data(), 8, 1);
    for (uint32_t k = 0; k < 8; ++k) {
        EXPECT_NEAR(d[2 * k], expect[k][0], 4 * kEps) << "bin " << k;
        EXPECT_NEAR(d[2 * k + 1], expect[k][1], 4 * kEps) << "bin " << k;
    }
}

TEST(Dfour1, UsesAnAngleConstantJustAbove2Pi) {
    // Stored reports depend on 6.28318530717959, not on the double nearest 2 pi. For 4 points an
    // impulse at point 1 yields X[1] = exp(i K / 4) with K that constant: K / 4 overshoots pi/2 by
    // (K - 2 pi) / 4 = 8.8e-16, so the real part is about -8.8e-16, give or take the rounding of
    // alpha + 1 near 1 (2.2e-16). With the double nearest 2 pi it would come out at +2.2e-16.
    const long double overshoot = (static_cast<long double>(6.28318530717959) - 2 * kPiL) / 4;
    std::vector<double> d(8, 0.0);
    d[2] = 1;
    dfour1(d.data(), 4, 1);
    EXPECT_NEAR(d[2], static_cast<double>(-overshoot), 1.2 * kEps);
    EXPECT_NEAR(d[3], 1.0, kEps);
}

// With sign 0 every twiddle factor is exactly 1 and the butterflies become an exact integer
// Walsh-Hadamard transform of what the bit-reversal left: point at position k gets
// sum over positions q of (-1)^popcount(k & q) times the point at q. That transform is its own
// inverse up to a factor n, so applying it again here recovers the order the points were put in.
std::vector<uint32_t> order_left_by_permutation(uint32_t n) {
    std::vector<double> d(2 * n);
    for (uint32_t p = 0; p < n; ++p) {
        d[2 * p] = p;
        d[2 * p + 1] = -static_cast<double>(p);
    }
    dfour1(d.data(), n, 0);
    std::vector<uint32_t> order(n);
    for (uint32_t q = 0; q < n; ++q) {
        double re = 0, im = 0;
        for (uint32_t k = 0; k < n; ++k) {
            bool odd = false;
            for (uint32_t common = k & q; common != 0; common &= common - 1)
                odd = !odd;
            const double s = odd ? -1.0 : 1.0;
            re += s * d[2 * k];
            im += s * d[2 * k + 1];
        }
        EXPECT_EQ(im, -re) << "n " << n << " position " << q;
        order[q] = static_cast<uint32_t>(re / n);
    }
    return order;
}

TEST(Dfour1, PutsEveryPointAtItsBitReversedPositionFirst) {
    for (uint32_t n = 1; n <= 1024; n *= 2) {
        const std::vector<uint32_t> order = order_left_by_permutation(n);
        for (uint32_t q = 0; q < n; ++q) {
            uint32_t reversed = 0;
            for (uint32_t bit = 1; bit < n; bit <<= 1)
                reversed = (reversed << 1) | ((q & bit) ? 1 : 0);
            ASSERT_EQ(order[q], reversed) << "n " << n << " position " << q;
        }
    }
    // The exchanges by hand: 8 points swap 1<->4 and 3<->6; 16 points swap 1<->8, 2<->4, 3<->12,
    // 5<->10, 7<->14 and 11<->13.
    EXPECT_EQ(order_left_by_permutation(8), (std::vector<uint32_t>{0, 4, 2, 6, 1, 5, 3, 7}));
    EXPECT_EQ(order_left_by_permutation(16),
              (std::vector<uint32_t>{0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15}));
}

TEST(Dfour1, ReturnsNcomplexTimesTheInputAfterTransformsOfOppositeSigns) {
    // 1..8 as four points comes back multiplied by 4: no scaling in either direction.
    std::vector<double> d = {1, 2, 3, 4, 5, 6, 7, 8};
    dfour1(d.data(), 4, 1);
    dfour1(d.data(), 4, -1);
    for (uint32_t j = 0; j < 8; ++j)
        EXPECT_NEAR(d[j], 4.0 * (j + 1), 32 * kEps) << "element " << j;

    for (uint32_t n = 2; n <= 4096; n *= 2) {
        for (int first : {1, -1}) {
            const std::vector<double> x = uniform_values(2 * n, n);
            std::vector<double> d2 = x;
            dfour1(d2.data(), n, first);
            dfour1(d2.data(), n, -first);
            const double bound = round_trip_bound(n, n, x);
            for (uint32_t j = 0; j < 2 * n; ++j)
                ASSERT_NEAR(d2[j], n * x[j], bound)
                    << "n " << n << " sign " << first << " at " << j;
        }
    }
}

TEST(Dfour1, AgreesWithADirectlySummedDftAtEveryPowerOfTwo) {
    for (uint32_t n = 1; n <= kLargestChecked; n *= 2) {
        const DirectDft dft(n);
        for (int sign : {1, -1}) {
            // Random data, and the exponential that the kernel turns into a peak at bin n - 1.
            const uint32_t peak = n - 1;
            const std::vector<double> inputs[2] = {uniform_values(2 * n, 2 * n + sign),
                                                   exponential(n, sign > 0 ? 1 : peak)};
            for (const std::vector<double>& x : inputs) {
                std::vector<double> d = x;
                dfour1(d.data(), n, sign);
                const double bound = kSlack * log2_of(n) * kEps * static_cast<double>(abs_sum(x));
                for (uint32_t k : bins_to_check(n, peak)) {
                    const LComplex want = dft.bin(x, k, sign);
                    ASSERT_NEAR(d[2 * k], static_cast<double>(want.real()), bound)
                        << "n " << n << " sign " << sign << " bin " << k;
                    ASSERT_NEAR(d[2 * k + 1], static_cast<double>(want.imag()), bound)
                        << "n " << n << " sign " << sign << " bin " << k;
                }
            }
        }
    }
}

TEST(Four1, AgreesWithDfour1WithinSinglePrecision) {
    std::vector<float> two = {1, 2, 3, 4};
    four1(two.data(), 2, -1);
    EXPECT_EQ(two, (std::vector<float>{4, 6, -2, -2}));

    for (uint32_t n = 1; n <= 4096; n *= 2) {
        for (int sign : {1, -1}) {
            std::vector<float> f(2 * n);
            const std::vector<double> src = uniform_values(2 * n, 3 * n);
            for (uint32_t j = 0; j < 2 * n; ++j)
                f[j] = static_cast<float>(src[j]);
            std::vector<double> d(f.begin(), f.end());
            const double bound =
                kSlack * std::max(1.0, log2_of(n)) * kEpsF * static_cast<double>(abs_sum(d));
            four1(f.data(), n, sign);
            dfour1(d.data(), n, sign);
            for (uint32_t j = 0; j < 2 * n; ++j)
                ASSERT_NEAR(f[j], d[j], bound) << "n " << n << " at " << j;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Real-sequence transform

TEST(Drealft, ReproducesTheHandWorkedSmallTransforms) {
    const double r2 = std::sqrt(2.0);
    struct Case {
        int sign;
        std::vector<double> in, out;
    } const cases[] = {
        // n = 2: sum and difference; the inverse of 3, 5 gives n/2 = 1 times the samples 4, -1.
        {1, {1, 2}, {3, -1}},
        {-1, {3, 5}, {4, -1}},
        // n = 4: X[0] = 10, X[2] = 1 - 2 + 3 - 4 = -2, X[1] = (1 - 3) + i(2 - 4) = -2 - 2i.
        {1, {1, 2, 3, 4}, {10, -2, -2, -2}},
        // n = 8, x = 1..8: X[0] = 36, X[4] = -4 and X[k] = -4 - 4i cot(pi k / 8) for k = 1..3,
        // with cot(pi/8) = 1 + sqrt2, cot(pi/4) = 1, cot(3pi/8) = sqrt2 - 1.
        {1, {1, 2, 3, 4, 5, 6, 7, 8}, {36, -4, -4, -4 * (1 + r2), -4, -4, -4, -4 * (r2 - 1)}},
    };
    for (const Case& c : cases) {
        std::vector<double> d = c.in;
        drealft(d.data(), static_cast<uint32_t>(d.size()), c.sign);
        for (std::size_t j = 0; j < d.size(); ++j)
            EXPECT_NEAR(d[j], c.out[j], 64 * kEps) << "n " << d.size() << " element " << j + 1;
    }
}

TEST(Drealft, PutsACosineInTheRealPartAndASineInTheImaginaryPartOfItsBin) {
    // n = 16: cos(2 pi k0 j / 16) gives 8 at element 2k0+1, sin gives +8 at element 2k0+2 (the
    // kernel is exp(+...)); k0 = 4 is the quarter bin the separation steps leave alone.
    for (uint32_t k0 = 1; k0 < 8; ++k0) {
        for (int part : {0, 1}) {
            std::vector<double> d(16);
            for (uint32_t j = 0; j < 16; ++j) {
                const double angle = 2 * kPi * k0 * j / 16;
                d[j] = part == 0 ? std::cos(angle) : std::sin(angle);
            }
            drealft(d.data(), 16, 1);
            for (uint32_t e = 1; e <= 16; ++e)
                EXPECT_NEAR(d[e - 1], e == 2 * k0 + 1 + part ? 8.0 : 0.0, kSlack * 4 * kEps * 16)
                    << "k0 " << k0 << (part ? " sine" : " cosine") << ", element " << e;
        }
    }
}

TEST(Drealft, GivesNTimesAConstantInElementOneAndExactZerosElsewhere) {
    for (uint32_t n = 2; n <= 1024; n *= 2) {
        std::vector<double> d(n, 0.75);
        drealft(d.data(), n, 1);
        EXPECT_EQ(d[0], 0.75 * n) << "n " << n;
        for (uint32_t j = 1; j < n; ++j)
            ASSERT_EQ(d[j], 0.0) << "n " << n << " element " << j + 1;
    }
}

TEST(Drealft, ReturnsHalfNTimesTheInputForAnyInverseSign) {
    for (int sign : {-1, 0, 2, std::numeric_limits<std::int32_t>::min()}) {
        std::vector<double> d = {1, 2, 3, 4, 5, 6, 7, 8};
        drealft(d.data(), 8, 1);
        drealft(d.data(), 8, sign);
        for (uint32_t j = 0; j < 8; ++j)
            EXPECT_NEAR(d[j], 4.0 * (j + 1), 64 * kEps) << "sign " << sign << " element " << j + 1;

        for (uint32_t n = 2; n <= 4096; n *= 2) {
            const std::vector<double> x = uniform_values(n, n + 7);
            std::vector<double> d2 = x;
            drealft(d2.data(), n, 1);
            drealft(d2.data(), n, sign);
            const double half = n / 2;
            const double bound = round_trip_bound(n, half, x);
            for (uint32_t j = 0; j < n; ++j)
                ASSERT_NEAR(d2[j], half * x[j], bound)
                    << "n " << n << " sign " << sign << " at " << j;
        }
    }
}

TEST(Drealft, AgreesWithADirectlySummedDftAtEveryPowerOfTwo) {
    for (uint32_t n = 2; n <= kLargestChecked; n *= 2) {
        const DirectDft dft(n);
        const uint32_t k0 = n >= 8 ? n / 4 - 1 : 1;  // just below the untouched quarter bin
        std::vector<double> random = uniform_values(n, 5 * n), cosine(n);
        for (uint32_t j = 0; j < n; ++j)
            cosine[j] = std::cos(2 * kPi * static_cast<double>((std::uint64_t{j} * k0) % n) / n);
        for (const std::vector<double>* x : {&random, &cosine}) {
            std::vector<double> z(2 * n, 0.0);  // the same samples as complex points
            for (uint32_t j = 0; j < n; ++j)
                z[2 * j] = (*x)[j];
            std::vector<double> d = *x;
            drealft(d.data(), n, 1);
            const double bound = kSlack * log2_of(n) * kEps * static_cast<double>(abs_sum(z));
            for (uint32_t k : bins_to_check(n / 2 + 1, k0)) {
                const LComplex want = dft.bin(z, k, 1);
                const double re = k == 0 ? d[0] : k == n / 2 ? d[1] : d[2 * k];
                const double im = k == 0 || k == n / 2 ? 0.0 : d[2 * k + 1];
                ASSERT_NEAR(re, static_cast<double>(want.real()), bound)
                    << "n " << n << " bin " << k;
                ASSERT_NEAR(im, static_cast<double>(want.imag()), bound)
                    << "n " << n << " bin " << k;
            }
        }
    }
}

TEST(Realft, AgreesWithDrealftWithinSinglePrecisionBothWays) {
    for (uint32_t n = 2; n <= 4096; n *= 2) {
        for (int sign : {1, -1}) {
            const std::vector<double> src = uniform_values(n, 11 * n);
            std::vector<float> f(n);
            for (uint32_t j = 0; j < n; ++j)
                f[j] = static_cast<float>(src[j]);
            std::vector<double> d(f.begin(), f.end());
            long double norm = 0;
            for (double v : d)
                norm += std::abs(v);
            const double bound = kSlack * log2_of(n) * kEpsF * static_cast<double>(norm);
            realft(f.data(), n, sign);
            drealft(d.data(), n, sign);
            for (uint32_t j = 0; j < n; ++j)
                ASSERT_NEAR(f[j], d[j], bound) << "n " << n << " sign " << sign << " at " << j;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Addressing

TEST(Fft, ReadsAndWritesOnlyTheElementsOfTheArrayItIsGiven) {
    // Callers pass the array itself; element 1 is its first entry. Guards on both sides of the
    // array must survive every transform.
    const double guard = -12345.5;
    for (uint32_t n = 2; n <= 64; n *= 2) {
        std::vector<double> buf(n + 2, guard);
        for (uint32_t j = 1; j <= n; ++j)
            buf[j] = j;
        drealft(buf.data() + 1, n, 1);
        drealft(buf.data() + 1, n, -1);
        dfour1(buf.data() + 1, n / 2, 1);
        dfour1(buf.data() + 1, n / 2, -1);
        EXPECT_EQ(buf.front(), guard) << "n " << n;
        EXPECT_EQ(buf.back(), guard) << "n " << n;
        EXPECT_NEAR(buf[1], n / 2.0 * n / 2.0, 1e-9) << "element 1 stays element 1, n " << n;

        std::vector<float> fbuf(n + 2, static_cast<float>(guard));
        for (uint32_t j = 1; j <= n; ++j)
            fbuf[j] = static_cast<float>(j);
        realft(fbuf.data() + 1, n, 1);
        four1(fbuf.data() + 1, n / 2, 1);
        EXPECT_EQ(fbuf.front(), static_cast<float>(guard)) << "n " << n;
        EXPECT_EQ(fbuf.back(), static_cast<float>(guard)) << "n " << n;
    }
}

}  // namespace
