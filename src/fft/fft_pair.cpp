#include "fft/fft_pair.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "internal/twiddle.h"

namespace psd {

// Working layout. A complex point p of each array occupies the same two elements, 2p+1 and 2p+2,
// in both arrays. While the transform runs, those two elements of the first array hold the point's
// real parts (first array's lane, second array's lane) and those of the second array hold its
// imaginary parts. Every quantity of a butterfly or a separation step is then one two-lane value
// loaded or stored whole, with no shuffling inside the passes; the exchange into this layout is
// folded into the bit-reversal pass and the exchange back into the last pass over each point.
// Moving values changes no bits, and each lane sees exactly the operations of the plain routines.

namespace {

#if defined(__SSE2__)

using Lanes = __m128d;

inline Lanes load(const double* p) {
    return _mm_loadu_pd(p);
}
inline void store(double* p, Lanes x) {
    _mm_storeu_pd(p, x);
}
inline Lanes splat(double x) {
    return _mm_set1_pd(x);
}
inline Lanes add(Lanes x, Lanes y) {
    return _mm_add_pd(x, y);
}
inline Lanes sub(Lanes x, Lanes y) {
    return _mm_sub_pd(x, y);
}
inline Lanes mul(Lanes x, Lanes y) {
    return _mm_mul_pd(x, y);
}
// (x0, x1), (y0, y1) become (x0, y0), (x1, y1).
inline void transpose(Lanes& x, Lanes& y) {
    const Lanes low = _mm_unpacklo_pd(x, y);
    y = _mm_unpackhi_pd(x, y);
    x = low;
}

#else

struct Lanes {
    double first;
    double second;
};

inline Lanes load(const double* p) {
    return {p[0], p[1]};
}
inline void store(double* p, Lanes x) {
    p[0] = x.first;
    p[1] = x.second;
}
inline Lanes splat(double x) {
    return {x, x};
}
inline Lanes add(Lanes x, Lanes y) {
    return {x.first + y.first, x.second + y.second};
}
inline Lanes sub(Lanes x, Lanes y) {
    return {x.first - y.first, x.second - y.second};
}
inline Lanes mul(Lanes x, Lanes y) {
    return {x.first * y.first, x.second * y.second};
}
inline void transpose(Lanes& x, Lanes& y) {
    const Lanes low = {x.first, y.first};
    y = {x.second, y.second};
    x = low;
}

#endif

// The two elements starting at element k (numbered from 1) of an array passed as itself.
inline double* at(double* data, std::uint32_t k) {
    return data + k - 1;
}

// The point whose real part is element k, exchanged between the two layouts (the exchange is its
// own inverse).
inline void flip_point(double* a, double* b, std::uint32_t k) {
    Lanes x = load(at(a, k));
    Lanes y = load(at(b, k));
    transpose(x, y);
    store(at(a, k), x);
    store(at(b, k), y);
}

// dfour1's bit-reversal permutation on both arrays, each point entering the working layout as it
// reaches its final place. Points that stay put are exchanged in place; each swapped pair is
// handled once, when p reaches the lower of the two.
void bit_reverse_into_lanes(double* a, double* b, std::uint32_t len) {
    std::uint32_t r = 1;
    for (std::uint32_t p = 1; p < len; p += 2) {
        if (r > p) {
            // Point p of each array, then its real parts and its imaginary parts; the same for r.
            Lanes x_p = load(at(a, p));
            Lanes y_p = load(at(b, p));
            Lanes x_r = load(at(a, r));
            Lanes y_r = load(at(b, r));
            transpose(x_p, y_p);
            transpose(x_r, y_r);
            store(at(a, r), x_p);
            store(at(b, r), y_p);
            store(at(a, p), x_r);
            store(at(b, p), y_r);
        } else if (r == p) {
            flip_point(a, b, p);
        }
        std::uint32_t h = len >> 1;
        while (h >= 2 && r > h) {
            r -= h;
            h >>= 1;
        }
        r += h;
    }
}

// One butterfly of dfour1 on the points whose real parts are elements p and m = p + s.
inline void butterfly(double* a, double* b, std::uint32_t p, std::uint32_t m, Lanes wr, Lanes wi) {
    const Lanes re_m = load(at(a, m));
    const Lanes im_m = load(at(b, m));
    const Lanes re_p = load(at(a, p));
    const Lanes im_p = load(at(b, p));
    const Lanes t_re = sub(mul(wr, re_m), mul(wi, im_m));
    const Lanes t_im = add(mul(wr, im_m), mul(wi, re_m));
    store(at(a, m), sub(re_p, t_re));
    store(at(b, m), sub(im_p, t_im));
    store(at(a, p), add(re_p, t_re));
    store(at(b, p), add(im_p, t_im));
}

// Twiddle factors formed ahead of their butterflies, at most this many at a time.
constexpr std::uint32_t kTwiddleBlock = 32;

// The longest arrays (in doubles) swept once per twiddle factor, as dfour1 does: two of them
// fill 32 KiB, the smallest first-level data cache of an x86-64.
constexpr std::uint32_t kSweepLimit = 2048;

// dfour1's butterfly passes in the working layout. The twiddle factors come from the scalar
// recurrence, exactly as dfour1 forms them, one after the other, and both lanes share them.
// Up to kSweepLimit the butterflies also run in dfour1's order: twiddle by twiddle, each factor
// across the whole array. Beyond it that order rereads the two arrays from slower memory s/2 times
// a pass (and its power-of-two strides pile onto a few cache sets), so a block of factors is
// formed first and applied group by group, over neighbouring points. The butterflies of a pass
// touch disjoint points, so their order changes no result.
void butterflies_in_lanes(double* a, double* b, std::uint32_t len, std::int32_t sign) {
    Lanes wr[kTwiddleBlock];
    Lanes wi[kTwiddleBlock];
    const bool sweep = len <= kSweepLimit;
    std::uint32_t s = 2;
    while (len > s) {
        const std::uint32_t stride = s << 1;
        const TwiddleStep step = pass_step(sign, s);
        double w_re = 1.0;
        double w_im = 0.0;
        for (std::uint32_t q0 = 1; q0 < s; q0 += 2 * kTwiddleBlock) {
            // The offsets q0, q0 + 2, ... below s, at most a block of them.
            const std::uint32_t left = (s - q0 + 1) >> 1;
            const std::uint32_t count = left < kTwiddleBlock ? left : kTwiddleBlock;
            for (std::uint32_t j = 0; j < count; ++j) {
                wr[j] = splat(w_re);
                wi[j] = splat(w_im);
                advance(w_re, w_im, step);
            }
            if (sweep) {
                for (std::uint32_t j = 0; j < count; ++j)
                    for (std::uint32_t p = q0 + 2 * j; p <= len; p += stride)
                        butterfly(a, b, p, p + s, wr[j], wi[j]);
            } else {
                for (std::uint32_t group = 0; group < len; group += stride)
                    for (std::uint32_t j = 0; j < count; ++j) {
                        const std::uint32_t p = group + q0 + 2 * j;
                        butterfly(a, b, p, p + s, wr[j], wi[j]);
                    }
            }
        }
        s = stride;
    }
}

// Stores two results, real and imaginary parts held as lanes, back as a point of each array.
inline void store_point(double* a, double* b, std::uint32_t k, Lanes re, Lanes im) {
    transpose(re, im);
    store(at(a, k), re);
    store(at(b, k), im);
}

}  // namespace

void dfour1_pair(double* a, double* b, std::uint32_t ncomplex, std::int32_t sign) {
    const std::uint32_t len = ncomplex << 1;
    bit_reverse_into_lanes(a, b, len);
    butterflies_in_lanes(a, b, len, sign);
    for (std::uint32_t p = 1; p < len; p += 2)
        flip_point(a, b, p);
}

void drealft_pair(double* a, double* b, std::uint32_t n) {
    // The half-length complex transform (n/2 points, n doubles) stays in the working layout; the
    // separation reads it from there and leaves every point it writes in the arrays' own layout.
    bit_reverse_into_lanes(a, b, n);
    butterflies_in_lanes(a, b, n, 1);

    // drealft's forward constants: half = 0.5, c = -0.5, and -c as the factor of B_re.
    const double c = -0.5;
    const Lanes half = splat(0.5);
    const Lanes c_lanes = splat(c);
    const Lanes minus_c = splat(-c);
    const double theta = 3.141592653589793 / static_cast<double>(n >> 1);
    const TwiddleStep step = twiddle_step(theta);
    double w_re = step.alpha + 1.0;
    double w_im = step.beta;
    const std::uint32_t last = n >> 2;
    for (std::uint32_t i = 2; i <= last; ++i) {
        const std::uint32_t p = i + i - 1;
        const std::uint32_t m = n + 3 - i - i;
        const Lanes re_p = load(at(a, p));
        const Lanes im_p = load(at(b, p));
        const Lanes re_m = load(at(a, m));
        const Lanes im_m = load(at(b, m));
        const Lanes a_re = mul(half, add(re_p, re_m));
        const Lanes a_im = mul(half, sub(im_p, im_m));
        const Lanes b_re = mul(minus_c, add(im_p, im_m));
        const Lanes b_im = mul(c_lanes, sub(re_p, re_m));
        const Lanes wr = splat(w_re);
        const Lanes wi = splat(w_im);
        store_point(a, b, p, sub(add(a_re, mul(wr, b_re)), mul(wi, b_im)),
                    add(add(a_im, mul(wr, b_im)), mul(wi, b_re)));
        // drealft's -A_im + w_re B_im, formed as w_re B_im - A_im: the same value in every bit (a
        // difference is the sum with the negated operand) and the form compilers give drealft's
        // expression, so that a NaN keeps its sign as it does there.
        store_point(a, b, m, add(sub(a_re, mul(wr, b_re)), mul(wi, b_im)),
                    add(sub(mul(wr, b_im), a_im), mul(wi, b_re)));
        advance(w_re, w_im, step);
    }
    // Bin n/4 needs no separation; for n = 2 it is bin 0, handled below.
    if (n >= 4) flip_point(a, b, (n >> 1) + 1);
    const Lanes first = load(at(a, 1));
    const Lanes second = load(at(b, 1));
    store_point(a, b, 1, add(first, second), sub(first, second));
}

}  // namespace psd
