// Sine and cosine rounded correctly to the nearest double, the same on every platform.
//
// The window weights and the transforms' twiddle factors feed every report, and C libraries
// differ in the last bit of sin and cos (glibc's current cos and MinGW's disagree on about one
// Hann angle in a thousand; neither is always the correctly rounded value). These compute the
// value to about 106 bits in double-double arithmetic made only of exact, portable steps, then
// round once, so a report does not depend on which library the tool was built with.
#pragma once

namespace psd {

// The double nearest to sin(x), resp. cos(x), for the double x.
// REQUIRES: |x| <= 8 (the angles of a section: at most 2 pi).
double exact_sin(double x);
double exact_cos(double x);

}  // namespace psd
