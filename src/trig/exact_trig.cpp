#include "trig/exact_trig.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace psd {

namespace {

// A double-double: the unevaluated sum hi + lo with |lo| at most half an ulp of hi, about 106
// significant bits. Built from exact error-free steps only (no fused multiply-add, which the build
// forbids), so every platform forms the very same values.
struct Dd {
    double hi;
    double lo;
};

Dd two_sum(double a, double b) {
    const double s = a + b;
    const double v = s - a;
    return {s, (a - (s - v)) + (b - v)};
}

Dd quick_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Veltkamp's split of a into two halves of 26 bits each, whose products are exact.
void split(double a, double* high, double* low) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    *high = t - (t - a);
    *low = a - *high;
}

Dd two_prod(double a, double b) {
    const double p = a * b;
    double ah, al, bh, bl;
    split(a, &ah, &al);
    split(b, &bh, &bl);
    return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

Dd add(Dd a, Dd b) {
    const Dd s = two_sum(a.hi, b.hi);
    return quick_two_sum(s.hi, s.lo + (a.lo + b.lo));
}

Dd mul(Dd a, Dd b) {
    const Dd p = two_prod(a.hi, b.hi);
    return quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Dd negate(Dd a) {
    return {-a.hi, -a.lo};
}

// pi/2 to 159 bits as three doubles, so that x - k pi/2 keeps full precision for every |x| <= 8.
constexpr double half_pi[3] = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54,
                               -0x1.f1976b7ed8fbcp-110};

// 1/n! for n = 2 ... 30, each as a double-double (its rounding error far below 2^-106).
constexpr Dd inverse_factorial[] = {
    {0x1.0000000000000p-1, 0x0.0p+0},                  // 1/2!
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},     // 1/3!
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},     // 1/4!
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},     // 1/5!
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},   // 1/6!
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},    // 1/7!
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},    // 1/8!
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},   // 1/9!
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},    // 1/10!
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},   // 1/11!
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},   // 1/12!
    {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},    // 1/13!
    {0x1.93974a8c07c9dp-37, 0x1.05d6f8a2efd1fp-92},    // 1/14!
    {0x1.ae7f3e733b81fp-41, 0x1.1d8656b0ee8cbp-97},    // 1/15!
    {0x1.ae7f3e733b81fp-45, 0x1.1d8656b0ee8cbp-101},   // 1/16!
    {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},   // 1/17!
    {0x1.6827863b97d97p-53, 0x1.eec01221a8b0bp-107},   // 1/18!
    {0x1.2f49b46814157p-57, 0x1.2650f61dbdcb4p-112},   // 1/19!
    {0x1.e542ba4020225p-62, 0x1.ea72b4afe3c2fp-120},   // 1/20!
    {0x1.71b8ef6dcf572p-66, -0x1.d043ae40c4647p-120},  // 1/21!
    {0x1.0ce396db7f853p-70, -0x1.aebcdbd20331cp-124},  // 1/22!
    {0x1.761b41316381ap-75, -0x1.3423c7d91404fp-130},  // 1/23!
    {0x1.f2cf01972f578p-80, -0x1.9ada5fcc1ab14p-135},  // 1/24!
    {0x1.3f3ccdd165fa9p-84, -0x1.58ddadf344487p-139},  // 1/25!
    {0x1.88e85fc6a4e5ap-89, -0x1.71c37ebd16540p-143},  // 1/26!
    {0x1.d1ab1c2dccea3p-94, 0x1.054d0c78aea14p-149},   // 1/27!
    {0x1.0a18a2635085dp-98, 0x1.b9e2e28e1aa54p-153},   // 1/28!
    {0x1.259f98b4358adp-103, 0x1.eaf8c39dd9bc5p-157},  // 1/29!
    {0x1.3932c5047d60ep-108, 0x1.832b7b530a627p-162},  // 1/30!
};

Dd inverse_factorial_of(int n) {
    return inverse_factorial[n - 2];
}

// sin(r) and cos(r) for |r| <= pi/4 + a little, by their Taylor series to the term r^29 and r^30:
// (pi/4)^31 / 31! is below 2^-118, far under the double-double's own precision.
Dd sin_reduced(Dd r) {
    const Dd z = mul(r, r);
    Dd sum = inverse_factorial_of(29);
    for (int n = 27; n >= 3; n -= 2) {
        const Dd term = inverse_factorial_of(n);
        sum = add(mul(sum, z), ((n - 1) / 2) % 2 != 0 ? negate(term) : term);
    }
    return add(r, mul(mul(sum, z), r));
}

Dd cos_reduced(Dd r) {
    const Dd z = mul(r, r);
    Dd sum = inverse_factorial_of(30);
    for (int n = 28; n >= 2; n -= 2) {
        const Dd term = inverse_factorial_of(n);
        sum = add(mul(sum, z), (n / 2) % 2 != 0 ? negate(term) : term);
    }
    return add(Dd{1.0, 0.0}, mul(sum, z));
}

// x = k pi/2 + r with r as a double-double; k is small, so k times each part of pi/2 is formed
// exactly.
Dd reduce(double x, int* quadrant) {
    const double k = std::nearbyint(x * 0x1.45f306dc9c883p-1);  // x * 2/pi, rounded
    const Dd first = two_prod(k, half_pi[0]);
    Dd r = two_sum(x, -first.hi);  // exact: the two nearly cancel
    r = add(r, Dd{-first.lo, 0.0});
    r = add(r, negate(two_prod(k, half_pi[1])));
    r = add(r, Dd{-(k * half_pi[2]), 0.0});
    *quadrant = static_cast<int>(k) & 3;
    return r;
}

// sin(x + quarter_turns * pi/2): the sine is quarter turn 0, the cosine quarter turn 1. Each
// quadrant of the reduced argument takes the sine or cosine series, with its sign.
double evaluate(double x, int quarter_turns) {
    int quadrant = 0;
    const Dd r = reduce(x, &quadrant);
    switch ((quadrant + quarter_turns) & 3) {
        case 0:
            return sin_reduced(r).hi;
        case 1:
            return cos_reduced(r).hi;
        case 2:
            return -sin_reduced(r).hi;
        default:
            return -cos_reduced(r).hi;
    }
}

// The transforms ask for the same few sines (two per stage) for every section of a run, and the
// double-double evaluation costs about as much as transforming a short section. A small
// direct-mapped table of the last results keeps it out of the per-section cost; the value is the
// same whether it comes from the table or not.
constexpr int memo_bits = 6;
struct MemoEntry {
    std::uint64_t key = 0x7ff8000000000bad;  // a NaN: never an argument
    double value = 0.0;
};
thread_local MemoEntry sin_memo[1 << memo_bits];

}  // namespace

double exact_sin(double x) {
    std::uint64_t key;
    std::memcpy(&key, &x, sizeof key);
    MemoEntry& entry = sin_memo[(key * 0x9e3779b97f4a7c15u) >> (64 - memo_bits)];
    if (entry.key != key) {
        entry.value = evaluate(x, 0);
        entry.key = key;
    }
    return entry.value;
}

double exact_cos(double x) {
    return evaluate(x, 1);
}

}  // namespace psd
