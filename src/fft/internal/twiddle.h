// The twiddle recurrence shared by the plain and the lock-step transforms.
//
// Both must form the very same factors for a report to come out the same whichever transform
// ran, so the recurrence's constants and its step are written in this one place.
#pragma once

#include <cstdint>

#include "trig/exact_trig.h"

namespace psd {

// The step of the sine-only recurrence for angle theta: the next factor is w + w (alpha + i beta)
// with alpha = -2 sin^2(theta/2), which keeps the small increment exact where cos(theta) - 1 would
// cancel, and beta = sin(theta). REQUIRES: |theta| <= pi.
struct TwiddleStep {
    double alpha;
    double beta;
};

inline TwiddleStep twiddle_step(double theta) {
    const double sh = exact_sin(theta * 0.5);
    return {(sh * -2.0) * sh, exact_sin(theta)};
}

// The step of a butterfly pass of dfour1 with span s (in doubles): theta = sign (2 pi / s), with
// the 15-digit angle constant four units in the last place above 2 pi that stored reports carry,
// the quotient formed first and then multiplied by the sign.
inline TwiddleStep pass_step(std::int32_t sign, std::uint32_t s) {
    return twiddle_step(static_cast<double>(sign) * (6.28318530717959 / static_cast<double>(s)));
}

// Advances the factor w_re + i w_im by one step, both new parts formed from the old values in
// this order: stored reports carry the roundings of exactly these operations.
inline void advance(double& w_re, double& w_im, const TwiddleStep& step) {
    const double saved_w_re = w_re;
    w_re = (w_re * step.alpha - w_im * step.beta) + w_re;
    w_im = (w_im * step.alpha + saved_w_re * step.beta) + w_im;
}

}  // namespace psd
