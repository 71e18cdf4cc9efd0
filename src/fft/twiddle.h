// The twiddle recurrence shared by the plain and the lock-step transforms.
//
// Both must form the very same factors for a report to come out the same whichever transform
// ran, so the recurrence's constants are formed in this one place.
#pragma once

#include "trig/exact_trig.h"

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
