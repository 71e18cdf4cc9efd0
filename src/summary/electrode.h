// The figures of one electrode that psd-summary derives from Rn, Rsn0 and the low-frequency
// densities given the electrode's area and the Stern-Geary coefficient B: area-normalised
// resistances, the corrosion current (Stern & Geary, J. Electrochem. Soc. 104 (1957) 56, with Rn
// in place of the polarisation resistance, ASTM G199) and the shot-noise figures of Cottis et al.
// (Electrochim. Acta 46 (2001) 3665) and Al-Mazeedi & Cottis (Electrochim. Acta 49 (2004) 2787).
//
// For two identical electrodes the measured current noise is half the difference of the two
// electrodes' own, so its density psi_I = q I_corr where each electrode's is 2 q I_corr (shot
// noise of events of charge q at the rate I_corr / q); with I_corr = B / Rsn and
// Rsn = sqrt(psi_E / psi_I) that gives q = sqrt(psi_E psi_I) / B, and the events' frequency
// fn = I_corr / q = B^2 / psi_E.
#pragma once

namespace psd {

struct ElectrodeFigures {
    double rn_area = 0, rsn0_area = 0;  // ohm cm^2: Rn A and Rsn0 A
    double icorr = 0;                   // A: B / Rn
    double icorr_density = 0;           // A/cm^2: B / (Rn A)
    double charge = 0;                  // C: sqrt(psi_V psi_I) / B
    double frequency = 0;               // Hz: B^2 / psi_V
};

// The figures from rn and rsn0 (ohm), psi_v and psi_i (the mean densities over the Rsn0 band,
// V^2/Hz and A^2/Hz), area in cm^2 and b in V; 0 for an area or a B not given. A figure that
// needs what is not given, or whose inputs are not finite, is NaN.
ElectrodeFigures electrode_figures(double rn, double rsn0, double psi_v, double psi_i, double area,
                                   double b);

}  // namespace psd
