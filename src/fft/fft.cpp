#include "fft/fft.h"

#include <utility>

#include "internal/twiddle.h"

namespace psd {

namespace {

// Element k of an array numbered from 1. The caller hands over the array itself, so element k
// lives at data[k - 1]; writing it as (data + k) - 1 keeps every intermediate pointer inside the
// array (data + k is at most one past its end) and lets the compiler fold the -1 into the
// addressing instead of subtracting on the 32-bit index.
inline double& el(double* data, std::uint32_t k) {
    return *(data + k - 1);
}

// Phase 1 of the complex transform: put point p where point r(p), its index bits reversed, was.
// b counts in reversed bit order alongside a; each out-of-place pair is exchanged once, when a
// reaches the lower of the two.
void bit_reverse(double* data, std::uint32_t len) {
    std::uint32_t b = 1;
    for (std::uint32_t a = 1; a < len; a += 2) {
        if (b > a) {
            std::swap(el(data, a), el(data, b));
            std::swap(el(data, a + 1), el(data, b + 1));
        }
        std::uint32_t h = len >> 1;
        while (h >= 2 && b > h) {
            b -= h;
            h >>= 1;
        }
        b += h;
    }
}

// Phase 2 of the complex transform, one pass per span. The twiddle factor always comes from the
// sine-only recurrence (internal/twiddle.h), whose exact roundings stored reports depend on.
void butterflies(double* data, std::uint32_t len, std::int32_t sign) {
    std::uint32_t s = 2;
    while (len > s) {
        const std::uint32_t stride = s << 1;
        const TwiddleStep step = pass_step(sign, s);
        double w_re = 1.0;
        double w_im = 0.0;
        // Twiddle by twiddle across the whole array, not butterfly group by group: the factor
        // for offset q is reached by (q - 1)/2 steps of the recurrence and never recomputed.
        for (std::uint32_t q = 1; q < s; q += 2) {
            for (std::uint32_t a = q; a <= len; a += stride) {
                const std::uint32_t b = a + s;
                const double t_re = w_re * el(data, b) - w_im * el(data, b + 1);
                const double t_im = w_re * el(data, b + 1) + w_im * el(data, b);
                el(data, b) = el(data, a) - t_re;
                el(data, b + 1) = el(data, a + 1) - t_im;
                el(data, a) = el(data, a) + t_re;
                el(data, a + 1) = el(data, a + 1) + t_im;
            }
            advance(w_re, w_im, step);
        }
        s = stride;
    }
}

// The separation of a real sequence's spectrum from the half-length complex transform of its
// even and odd samples, or the reverse: the half-sum A and half-difference B of bin k and its
// mirror bin, recombined with the twiddle factor of bin k.
void separate(double* data, std::uint32_t n, std::int32_t sign) {
    const double half = 0.5;
    double theta = 3.141592653589793 / static_cast<double>(n >> 1);
    double c;
    if (sign == 1) {
        c = -0.5;
        dfour1(data, n >> 1, 1);
    } else {
        c = 0.5;
        theta = -theta;
    }
    const TwiddleStep step = twiddle_step(theta);
    // Bin 0 and bin n/4 need no separation, so the factor starts at bin 1's, exp(i theta).
    double w_re = step.alpha + 1.0;
    double w_im = step.beta;
    const std::uint32_t last = n >> 2;
    for (std::uint32_t i = 2; i <= last; ++i) {
        const std::uint32_t a = i + i - 1;
        const std::uint32_t b = n + 3 - i - i;
        const double a_re = half * (el(data, a) + el(data, b));
        const double a_im = half * (el(data, a + 1) - el(data, b + 1));
        const double b_re = -c * (el(data, a + 1) + el(data, b + 1));
        const double b_im = c * (el(data, a) - el(data, b));
        el(data, a) = a_re + w_re * b_re - w_im * b_im;
        el(data, a + 1) = a_im + w_re * b_im + w_im * b_re;
        el(data, b) = a_re - w_re * b_re + w_im * b_im;
        el(data, b + 1) = -a_im + w_re * b_im + w_im * b_re;
        advance(w_re, w_im, step);
    }
    const double first = el(data, 1);
    if (sign == 1) {
        el(data, 1) = first + el(data, 2);
        el(data, 2) = first - el(data, 2);
    } else {
        el(data, 1) = half * (first + el(data, 2));
        el(data, 2) = half * (first - el(data, 2));
        dfour1(data, n >> 1, -1);
    }
}

}  // namespace

void dfour1(double* data, std::uint32_t ncomplex, std::int32_t sign) {
    const std::uint32_t len = ncomplex << 1;
    bit_reverse(data, len);
    butterflies(data, len, sign);
}

void drealft(double* data, std::uint32_t n, std::int32_t sign) {
    separate(data, n, sign);
}

}  // namespace psd
