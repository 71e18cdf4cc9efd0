// Correctly rounded sine and cosine: checked against values worked out far beyond double
// precision, on the angles the Hann window and the transforms really use.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "trig/exact_trig.h"

#if defined(PSD_HAVE_QUADMATH)
#include <quadmath.h>
#endif

using namespace psd;

namespace {

TEST(ExactTrig, GivesTheNearestDoubleWhereCLibrariesDisagree) {
    // Three Hann angles of a 2048-point section, 6.283185307 / 2047 * j for j = 563, 777 and 1674,
    // where glibc's cos is one ulp off. The expected doubles are the nearest to the cosine summed
    // by its Taylor series to 60 decimal digits (Python's decimal module):
    //   -0.15666183610811777733308675080083494205..., -0.72715906611005970410218442068980998930...,
    //    0.41312927671370205970349042177747753204...
    struct Case {
        double x;
        double cos_x;
    };
    const Case cases[] = {
        {0x1.ba652a77a8266p+0, -0x1.40d7ebb4ece87p-3},
        {0x1.3146b821ea7bcp+1, -0x1.744e316fdd7edp-1},
        {0x1.48d9861aa6992p+2, 0x1.a70b5c72059ddp-2},
        {0.0, 1.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(exact_cos(c.x), c.cos_x) << c.x;
    EXPECT_EQ(exact_sin(0.0), 0.0);
    EXPECT_EQ(exact_sin(0x1p-30), 0x1p-30);  // sin x = x - x^3/6: the cube is far below half an ulp
}

#if defined(PSD_HAVE_QUADMATH)
// The quad-precision (113-bit) library value rounded to double: an independent reference.
double quad_cos(double x) {
    return static_cast<double>(cosq(static_cast<__float128>(x)));
}
double quad_sin(double x) {
    return static_cast<double>(sinq(static_cast<__float128>(x)));
}

TEST(ExactTrig, MatchesQuadPrecisionOnEveryWindowAngleAndAcrossItsDomain) {
    for (int bits = 1; bits <= 14; ++bits) {
        const std::int64_t n = std::int64_t{1} << bits;
        const double step = 6.283185307 / static_cast<double>(n - 1);
        for (std::int64_t j = 0; j < n; ++j) {
            const double x = step * static_cast<double>(j);
            ASSERT_EQ(exact_cos(x), quad_cos(x)) << "n " << n << " j " << j;
        }
    }
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> angle(-8.0, 8.0);
    for (int i = 0; i < 200000; ++i) {
        const double x = angle(random);
        ASSERT_EQ(exact_sin(x), quad_sin(x)) << x;
        ASSERT_EQ(exact_cos(x), quad_cos(x)) << x;
    }
}
#endif

}  // namespace
