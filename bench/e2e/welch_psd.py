#!/usr/bin/python3
"""numpy.loadtxt + scipy.signal.welch counterpart of psd, for the end-to-end benchmark.

    /usr/bin/python3 welch_psd.py DATA_FILE HANNING NB_SECTION NBPOINT_SECTION OUTPUT_FILE

Loads the whole sample file with numpy.loadtxt, runs scipy.signal.welch on the first
NB_SECTION * NBPOINT_SECTION samples (nperseg=N, noverlap=0, detrend='constant',
scaling='density'), and writes a report in psd's format. Needs the Debian packages
python3-numpy and python3-scipy (apt-get install python3-numpy python3-scipy); use
/usr/bin/python3, since a pyenv python on PATH may lack them.

welch's density differs from psd's in two conventions, undone here so that the two reports can
be compared bin by bin:
  - welch divides by sum(w^2); psd multiplies by 8/3 and divides by N. For the symmetric Hann
    window psd uses (denominator N - 1), sum(w^2) = 3 (N - 1) / 8, so the factor is
    sum(w^2) * 8 / (3 N); without a window it is 1.
  - welch does not double the Nyquist bin of an even-length segment; psd doubles every bin.
"""
import sys

import numpy as np
from scipy import signal


def design_psd(voltage, current, deltat, hanning, nb_section, n):
    """Frequencies and psd-scaled densities of bins 0 .. n/2 from welch."""
    used = nb_section * n
    if hanning == 1:
        window = signal.windows.hann(n, sym=True)
        correction = np.sum(window**2) * 8.0 / (3.0 * n)
    else:
        window = signal.windows.boxcar(n)
        correction = 1.0
    fs = 1.0 / deltat
    out = []
    for x in (voltage[:used], current[:used]):
        f, p = signal.welch(x, fs=fs, window=window, nperseg=n, noverlap=0, nfft=n,
                            detrend='constant', return_onesided=True, scaling='density',
                            average='mean')
        p = p * correction
        p[-1] *= 2.0
        out.append(p)
    return f, out[0], out[1]


def write_report(path, data_file, hanning, nb_section, n, deltat, psd_v, psd_i):
    f_nyquist = float(np.float32(1.0 / (2.0 * deltat)))
    k = np.arange(1, n // 2 + 1)
    with np.errstate(divide='ignore', invalid='ignore'):
        zn = np.sqrt(psd_v[1:] / psd_i[1:])
    table = np.column_stack((k * (f_nyquist / (n // 2)), psd_v[1:], psd_i[1:], zn))
    with open(path, 'w') as out:
        out.write('data file = %s    hanning = %d    nb_section = %d     nbpoint_section = %d\n'
                  % (data_file, hanning, nb_section, n))
        out.write('    frequency        PSD_v           PSD_i            Zn\n')
        np.savetxt(out, table, fmt='%14.6e', delimiter='\t')


def main(argv):
    if len(argv) != 6:
        sys.exit(__doc__)
    data_file, hanning, nb_section, n, output_file = (
        argv[1], int(argv[2]), int(argv[3]), int(argv[4]), argv[5])
    samples = np.loadtxt(data_file, dtype=np.float64)
    if samples.ndim != 2 or samples.shape[0] < max(2, nb_section * n):
        sys.exit('welch_psd: too few samples for the sections')
    # psd keeps deltat as a 32-bit float; so does this report, so frequencies agree.
    deltat = float(np.float32(samples[1, 0] - samples[0, 0]))
    _, psd_v, psd_i = design_psd(samples[:, 1], samples[:, 2], deltat, hanning, nb_section, n)
    write_report(output_file, data_file, hanning, nb_section, n, deltat, psd_v, psd_i)


if __name__ == '__main__':
    main(sys.argv)
