#include "reference/float_fft.h"

#include <cmath>
#include <utility>

namespace psd::reference {

void four1(float* data, std::uint32_t ncomplex, std::int32_t sign) {
    auto x = [data](std::uint32_t k) -> float& { return data[k - 1]; };  // element k
    const std::uint32_t len = ncomplex << 1;
    std::uint32_t j = 1;
    for (std::uint32_t i = 1; i < len; i += 2) {
        if (j > i) {
            std::swap(x(j), x(i));
            std::swap(x(j + 1), x(i + 1));
        }
        std::uint32_t m = len >> 1;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }
    for (std::uint32_t span = 2; len > span; span <<= 1) {
        const double theta = sign * (6.28318530717959 / static_cast<double>(span));
        const double sh = std::sin(0.5 * theta);
        const double alpha = -2.0 * sh * sh;
        const double beta = std::sin(theta);
        double w_re = 1.0, w_im = 0.0;
        for (std::uint32_t q = 1; q < span; q += 2) {
            for (std::uint32_t a = q; a <= len; a += 2 * span) {
                const std::uint32_t b = a + span;
                const float t_re = static_cast<float>(w_re * x(b) - w_im * x(b + 1));
                const float t_im = static_cast<float>(w_re * x(b + 1) + w_im * x(b));
                x(b) = x(a) - t_re;
                x(b + 1) = x(a + 1) - t_im;
                x(a) += t_re;
                x(a + 1) += t_im;
            }
            const double old_re = w_re;
            w_re = w_re * alpha - w_im * beta + w_re;
            w_im = w_im * alpha + old_re * beta + w_im;
        }
    }
}

void realft(float* data, std::uint32_t n, std::int32_t sign) {
    auto x = [data](std::uint32_t k) -> float& { return data[k - 1]; };
    double theta = 3.141592653589793 / static_cast<double>(n >> 1);
    float c = 0.5f;
    if (sign == 1) {
        c = -0.5f;
        four1(data, n >> 1, 1);
    } else {
        theta = -theta;
    }
    const double sh = std::sin(0.5 * theta);
    const double alpha = -2.0 * sh * sh;
    const double beta = std::sin(theta);
    double w_re = 1.0 + alpha, w_im = beta;
    for (std::uint32_t i = 2; i <= (n >> 2); ++i) {
        const std::uint32_t a = 2 * i - 1, b = n + 3 - 2 * i;
        const float a_re = 0.5f * (x(a) + x(b));
        const float a_im = 0.5f * (x(a + 1) - x(b + 1));
        const float b_re = -c * (x(a + 1) + x(b + 1));
        const float b_im = c * (x(a) - x(b));
        x(a) = static_cast<float>(a_re + w_re * b_re - w_im * b_im);
        x(a + 1) = static_cast<float>(a_im + w_re * b_im + w_im * b_re);
        x(b) = static_cast<float>(a_re - w_re * b_re + w_im * b_im);
        x(b + 1) = static_cast<float>(-a_im + w_re * b_im + w_im * b_re);
        const double old_re = w_re;
        w_re = w_re * alpha - w_im * beta + w_re;
        w_im = w_im * alpha + old_re * beta + w_im;
    }
    const float first = x(1);
    if (sign == 1) {
        x(1) = first + x(2);
        x(2) = first - x(2);
    } else {
        x(1) = 0.5f * (first + x(2));
        x(2) = 0.5f * (first - x(2));
        four1(data, n >> 1, -1);
    }
}

}  // namespace psd::reference
