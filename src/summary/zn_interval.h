// How far the true noise impedance can lie from an estimate sqrt(P_v / P_i), P_v and P_i means of
// periodogram ordinates worth n complex averages, depending on how coherent voltage and current
// are. With uncorrelated V and I the squared ratio follows Fisher's F law with (2n, 2n) degrees
// of freedom (Bertocci et al., J. Electrochem. Soc. 144 (1997) 31). With coherent V and I (a cell
// whose voltage noise is its impedance times its current noise) the two spectra rise and fall
// together and the ratio scatters far less: then ln sqrt(P_v / P_i) - ln Z is the real part of
// the transfer function's relative error, whose variance is (1 - g) / (2 n) for a coherence g
// (Bendat & Piersol, Random Data, 4th ed., Wiley 2010, ch. 9), with the residual's variance
// estimated from 2 (n - 1) degrees of freedom, hence Student's t law.
//
// The model is chosen by a test of the coherence estimated over a pool of bins (the band itself,
// or a bin's neighbours): its estimate under zero coherence exceeds x with probability
// (1 - x)^(n - 1) (Carter, Knapp & Nuttall 1973), so a value below the 5 % point counts as
// uncorrelated and the F law applies; above it the t law. Seeded Monte Carlo puts both models'
// coverage within 95 +/- 3 % from M = 1 upward, the F law alone failing coherent cells and the
// plain delta method (an F law with 2n / (1 - g) degrees of freedom) falling to 91 % at M = 1.
#pragma once

#include "summary/quantiles.h"

namespace psd {

enum class ZnModel {
    assumed_uncorrelated,  // no cross-spectrum (no sample file): the F law, V and I assumed apart
    too_few_averages,      // fewer than 2 averages in the pool: the coherence cannot be told
    uncorrelated,          // the coherence is not significant at 5 %: the F law
    coherent,              // it is: the transfer-function error, Student's t law
};

struct ZnInterval {
    double low = 0, high = 0;  // the true value's interval, in the estimate's unit
    ZnModel model = ZnModel::assumed_uncorrelated;
    double coherence = 0;  // estimated coherence less its bias of about 1/n, within [0, 1];
                           // NaN without a cross-spectrum
    double dof = 0;        // of the F law (each side) or of the t law
    double phase_half_width_deg = 0;  // the phase's half-interval with the t law; NaN otherwise
};

// The interval at level of an estimate worth averages complex averages. raw_coherence is
// |sum S_vi|^2 / (sum S_vv sum S_ii) over a pool of pool_averages averages (the estimate's own
// bins, or more), NaN when there is no cross-spectrum. quantiles may be null.
// REQUIRES: level in (0, 1); averages > 0.
ZnInterval zn_interval(double estimate, double averages, double raw_coherence, double pool_averages,
                       double level, QuantileCache* quantiles = nullptr);

// Whether the coherence lies between the two models (0.1 to 0.9), where neither is exact.
bool partly_coherent(const ZnInterval& interval);

}  // namespace psd
