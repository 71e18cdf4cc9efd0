#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "fft/fft.h"
#include "reference/direct_dft.h"
#include "reference/float_fft.h"
#include "test_support.h"

using namespace psd;
using psd::reference::DirectDft;
using psd::reference::LComplex;

namespace {

using std::uint32_t;

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr float kEpsF = std::numeric_limits<float>::epsilon();
constexpr long double kPiL = 3.141592653589793238462643383279502884L;

// The largest size checked against the direct sum. Up to here even the worst-case rounding of the
// long double reference (n * 2^-64 * sum|x|) stays well inside the bound it checks.
constexpr uint32_t kLargestChecked = 1u << 14;

// How far a transform may stray from the exact one: max |error| <= kSlack * log2(n) * eps *
// sum|x|, since each pass rounds its partial sums, all bounded by sum|x|, about once. The angle
// constant 6.28318530717959 exceeds 2 pi by 15.9 eps, and bin n - 1, which meets the largest
// twiddle in every pass, gathers about 4 eps of phase per pass: an exponential peaking there is
// the worst input, measured 3.9 at n = 2^14 (random data below 0.8, a cosine under 1.8). A wrong
// sign, twiddle or pairing misses by orders of magnitude.
constexpr double kSlack = 5.0;

double log2_of(uint32_t n) {
    return std::max(1.0, std::log2(static_cast<double>(n)));
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
        const long double angle = 2 * kPiL * ((std::uint64_t{p} * k0) % n) / n;
        v[2 * p] = static_cast<double>(std::cos(angle));
        v[2 * p + 1] = static_cast<double>(std::sin(angle));
    }
    return v;
}

// Interleaved parts as complex points, or real values with zero imaginary parts.
std::vector<LComplex> as_points(const std::vector<double>& v, bool interleaved) {
    std::vector<LComplex> points;
    for (std::size_t j = 0; j < v.size(); j += interleaved ? 2 : 1)
        points.emplace_back(v[j], interleaved ? v[j + 1] : 0.0);
    return points;
}

double abs_sum(const std::vector<LComplex>& x) {
    long double sum = 0;
    for (const LComplex& z : x)
        sum += std::abs(z);
    return static_cast<double>(sum);
}

// The largest |got[j] - scale * want[j]|.
template <typename T>
double max_error(const std::vector<T>& got, const std::vector<double>& want, double scale) {
    double worst = 0;
    for (std::size_t j = 0; j < got.size(); ++j)
        worst = std::max(worst, std::abs(got[j] - scale * want[j]));
    return worst;
}

// Every bin for small sizes; for larger ones the edges, the quarter bin and a spread of others.
std::vector<uint32_t> bins_to_check(uint32_t count, uint32_t extra) {
    std::vector<uint32_t> bins = {0, 1, count / 4, count / 2, count - 1, extra % count};
    for (uint32_t j = 0; j < (count <= 1025 ? count : 48); ++j)
        bins.push_back(count <= 1025 ? j : static_cast<uint32_t>((j * 2654435761u) % count));
    return bins;
}

}  // namespace

TEST(Dfour1, GivesTheHandWorkedTransforms) {
    // The eighth roots of unity exp(2 pi i p / 8), p = 0..7: 1, (1 + i)/sqrt2, i, ...
    const double h = std::sqrt(2.0) / 2;
    const std::vector<double> roots = {1, 0, h, h, 0, 1, -h, h, -1, 0, -h, -h, 0, -1, h, -h};
    std::vector<double> impulse(16, 0.0), at_bin_7(16, 0.0), at_bin_1(16, 0.0);
    impulse[2] = 1;
    at_bin_7[14] = 8;
    at_bin_1[2] = 8;
    const struct {
        int sign;
        std::vector<double> in, out;
    } cases[] = {
        // One point is its own transform; two give their sum and difference whatever the sign:
        // (1 + 2i) + (3 + 4i) = 4 + 6i and (1 + 2i) - (3 + 4i) = -2 - 2i.
        {1, {0.25, -3.5}, {0.25, -3.5}},
        {-1, {0.25, -3.5}, {0.25, -3.5}},
        {1, {1, 2, 3, 4}, {4, 6, -2, -2}},
        {-1, {1, 2, 3, 4}, {4, 6, -2, -2}},
        // x[p] = exp(+2 pi i p / 8): the kernel exp(+...) adds the angles and lands on bin 7
        // (= -1), exp(-...) cancels them and lands on bin 1.
        {1, roots, at_bin_7},
        {-1, roots, at_bin_1},
        // An impulse at point 1 gives X[k] = exp(+2 pi i k / 8), the roots in order.
        {1, impulse, roots},
    };
    for (const auto& c : cases) {
        std::vector<double> d = c.in;
        dfour1(d.data(), static_cast<uint32_t>(d.size() / 2), c.sign);
        for (std::size_t j = 0; j < d.size(); ++j)
            EXPECT_NEAR(d[j], c.out[j], 64 * kEps)
                << d.size() / 2 << " points, sign " << c.sign << ", element " << j + 1;
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

TEST(Dfour1, PutsEveryPointAtItsBitReversedPositionFirst) {
    // With sign 0 every twiddle factor is exactly 1 and the butterflies become an exact integer
    // Walsh-Hadamard transform of what the bit reversal left: position k gets the sum over
    // positions q of (-1)^popcount(k & q) times the point at q. That transform is its own inverse
    // up to a factor n, so applying it again recovers the order the points were put in.
    for (uint32_t n = 1; n <= 1024; n *= 2) {
        std::vector<double> d(2 * n);
        for (uint32_t p = 0; p < n; ++p) {
            d[2 * p] = p;
            d[2 * p + 1] = -static_cast<double>(p);
        }
        dfour1(d.data(), n, 0);
        for (uint32_t q = 0; q < n; ++q) {
            double re = 0, im = 0;
            for (uint32_t k = 0; k < n; ++k) {
                const double s = std::bitset<32>(k & q).count() % 2 ? -1.0 : 1.0;
                re += s * d[2 * k];
                im += s * d[2 * k + 1];
            }
            uint32_t reversed = 0;
            for (uint32_t bit = 1; bit < n; bit <<= 1)
                reversed = (reversed << 1) | ((q & bit) ? 1 : 0);
            ASSERT_EQ(re, static_cast<double>(n) * reversed) << "n " << n << " position " << q;
            ASSERT_EQ(im, -re) << "n " << n << " position " << q;
        }
    }
}

TEST(Fft, ReturnsNOrHalfNTimesTheInputAfterAForwardAndAnInverseTransform) {
    // A forward and inverse pair is stable in the 2-norm: the error vector's norm stays within a
    // small multiple of log2(n) * eps * ||scale * x||, and one element's error is at most that
    // norm. Measured worst case 0.4 of log2(n) * eps * scale * ||x|| (at n = 2).
    for (uint32_t n = 1; n <= 4096; n *= 2) {
        const std::vector<double> x = uniform_values(2 * n, n), real_x(x.begin(), x.begin() + n);
        auto bound = [n](double scale, const std::vector<double>& v) {
            long double sum = 0;
            for (double e : v)
                sum += static_cast<long double>(e) * e;
            return kSlack * log2_of(n) * kEps * scale * static_cast<double>(std::sqrt(sum));
        };
        for (int first : {1, -1}) {
            std::vector<double> d = x;
            dfour1(d.data(), n, first);
            dfour1(d.data(), n, -first);
            EXPECT_LE(max_error(d, x, n), bound(n, x)) << "dfour1, n " << n << ", sign " << first;
        }
        // drealft takes every sign other than 1 for its inverse.
        for (int sign : {-1, 0, 2, std::numeric_limits<std::int32_t>::min()}) {
            if (n < 2) break;
            std::vector<double> d = real_x;
            drealft(d.data(), n, 1);
            drealft(d.data(), n, sign);
            EXPECT_LE(max_error(d, real_x, n / 2), bound(n / 2, real_x))
                << "drealft, n " << n << ", sign " << sign;
        }
    }
}

TEST(Fft, AgreesWithADirectlySummedDftAtEveryPowerOfTwo) {
    for (uint32_t n = 2; n <= kLargestChecked; n *= 2) {
        const DirectDft dft(n);
        // dfour1 on random points and on the exponential that the kernel turns into a peak at
        // bin n - 1; drealft on random samples and on a cosine just below the quarter bin, which
        // the separation steps leave untouched.
        const uint32_t k0 = n >= 8 ? n / 4 - 1 : 1;
        std::vector<double> cosine(n);
        for (uint32_t j = 0; j < n; ++j)
            cosine[j] = static_cast<double>(std::cos(2 * kPiL * ((std::uint64_t{j} * k0) % n) / n));
        const struct {
            int sign;
            bool real;
            std::vector<double> v;
        } cases[] = {
            {1, false, uniform_values(2 * n, 2 * n + 1)},  {1, false, exponential(n, 1)},
            {-1, false, uniform_values(2 * n, 2 * n - 1)}, {-1, false, exponential(n, n - 1)},
            {1, true, uniform_values(n, 5 * n)},           {1, true, cosine}};
        for (const auto& c : cases) {
            const std::vector<LComplex> x = as_points(c.v, !c.real);
            std::vector<double> d = c.v;
            if (c.real) drealft(d.data(), n, 1);
            if (!c.real) dfour1(d.data(), n, c.sign);
            double worst = 0;
            for (uint32_t k : bins_to_check(c.real ? n / 2 + 1 : n, c.real ? k0 : n - 1)) {
                const LComplex want = dft.bin(x, k, c.sign);
                const bool packed = c.real && (k == 0 || k == n / 2);  // in elements 1 and 2
                const double re = packed ? d[k == 0 ? 0 : 1] : d[2 * k];
                const double im = packed ? 0.0 : d[2 * k + 1];
                worst = std::max({worst, std::abs(re - static_cast<double>(want.real())),
                                  std::abs(im - static_cast<double>(want.imag()))});
            }
            EXPECT_LE(worst, kSlack * log2_of(n) * kEps * abs_sum(x))
                << (c.real ? "drealft" : "dfour1") << ", n " << n << ", sign " << c.sign;
        }
    }
}

TEST(Fft, SinglePrecisionTwinsAgreeWithTheDoubleFormsWithinSinglePrecision) {
    for (uint32_t n = 1; n <= 4096; n *= 2) {
        for (int sign : {1, -1}) {
            const std::vector<double> src = uniform_values(2 * n, 3 * n + sign);
            std::vector<float> f(src.begin(), src.end()), real_f(f.begin(), f.begin() + n);
            std::vector<double> d(f.begin(), f.end()), real_d(real_f.begin(), real_f.end());
            auto bound = [n](const std::vector<double>& v) {
                return kSlack * log2_of(n) * kEpsF * abs_sum(as_points(v, false));
            };
            const double complex_bound = bound(d), real_bound = bound(real_d);
            reference::four1(f.data(), n, sign);
            dfour1(d.data(), n, sign);
            EXPECT_LE(max_error(f, d, 1), complex_bound) << "four1, n " << n << ", sign " << sign;
            if (n < 2) continue;
            reference::realft(real_f.data(), n, sign);
            drealft(real_d.data(), n, sign);
            EXPECT_LE(max_error(real_f, real_d, 1), real_bound)
                << "realft, n " << n << ", sign " << sign;
        }
    }
}

TEST(Drealft, ReproducesTheHandWorkedSmallTransforms) {
    const double r2 = std::sqrt(2.0);
    const struct {
        int sign;
        std::vector<double> in, out;
    } cases[] = {
        // n = 2: sum and difference; the inverse of 3, 5 gives n/2 = 1 times the samples 4, -1.
        {1, {1, 2}, {3, -1}},
        {-1, {3, 5}, {4, -1}},
        // n = 4: X[0] = 10, X[2] = 1 - 2 + 3 - 4 = -2, X[1] = (1 - 3) + i(2 - 4) = -2 - 2i.
        {1, {1, 2, 3, 4}, {10, -2, -2, -2}},
        // n = 8, x = 1..8: X[0] = 36, X[4] = -4 and X[k] = -4 - 4i cot(pi k / 8) for k = 1..3,
        // with cot(pi/8) = 1 + sqrt2, cot(pi/4) = 1, cot(3pi/8) = sqrt2 - 1.
        {1, {1, 2, 3, 4, 5, 6, 7, 8}, {36, -4, -4, -4 * (1 + r2), -4, -4, -4, -4 * (r2 - 1)}},
    };
    for (const auto& c : cases) {
        std::vector<double> d = c.in;
        drealft(d.data(), static_cast<uint32_t>(d.size()), c.sign);
        for (std::size_t j = 0; j < d.size(); ++j)
            EXPECT_NEAR(d[j], c.out[j], 64 * kEps) << "n " << d.size() << " element " << j + 1;
    }
    // A constant gives n times itself in element 1 and exact zeros elsewhere.
    for (uint32_t n = 2; n <= 1024; n *= 2) {
        std::vector<double> d(n, 0.75), want(n, 0.0);
        want[0] = 0.75 * n;
        drealft(d.data(), n, 1);
        ASSERT_EQ(d, want) << "n " << n;
    }
}

TEST(Drealft, PutsACosineInTheRealPartAndASineInTheImaginaryPartOfItsBin) {
    // n = 16: cos(2 pi k0 j / 16) gives 8 at element 2k0+1, sin gives +8 at element 2k0+2 (the
    // kernel is exp(+...)); k0 = 4 is the quarter bin the separation steps leave alone.
    for (uint32_t k0 = 1; k0 < 8; ++k0) {
        for (int part : {0, 1}) {
            std::vector<double> d(16);
            for (uint32_t j = 0; j < 16; ++j) {
                const double angle = static_cast<double>(2 * kPiL * k0 * j / 16);
                d[j] = part == 0 ? std::cos(angle) : std::sin(angle);
            }
            drealft(d.data(), 16, 1);
            for (uint32_t e = 1; e <= 16; ++e)
                EXPECT_NEAR(d[e - 1], e == 2 * k0 + 1 + part ? 8.0 : 0.0, kSlack * 4 * kEps * 16)
                    << "k0 " << k0 << (part ? " sine" : " cosine") << ", element " << e;
        }
    }
}

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
    }
}
