#!/usr/bin/python3
"""Checks the benchmark's C baseline against numpy/scipy welch on small generated files.

    /usr/bin/python3 bench/e2e/check_baseline.py GENERATOR BASELINE PSD_SUMMARY

GENERATOR, BASELINE and PSD_SUMMARY are the built psd_e2e_gen, psd_e2e_baseline and psd-summary.
For a few cases (Hann window or none, a few sections or all of them, two section lengths) it
writes a small sample file, runs the baseline on it through config_psd.txt as psd would be run,
runs welch_psd.py's welch with psd's scaling on the same file, and compares the two reports, read
through psd-summary, with bench.py's comparison (relative 1e-4 on bins with non-negligible
power). Prints one line per case and a summary; exits 0 when every case agrees, 1 otherwise.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench  # noqa: E402
import welch_psd  # noqa: E402

# (lines, seed, deltat, hanning, nb_section, nbpoint_section)
CASES = [
    (20000, 11, 0.001, 1, 8, 1024),
    (20000, 11, 0.001, 0, 19, 1024),
    (5000, 12, 0.05, 1, 39, 128),
    (5000, 12, 0.05, 2, 1, 4096),
]


def run_case(gen, baseline, summary, work, lines, seed, deltat, hanning, nb_section, n):
    data = os.path.join(work, 'samples.txt')
    subprocess.run([gen, 'write', data, str(lines), str(seed), repr(deltat)], check=True,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(work, 'config_psd.txt'), 'w') as f:
        f.write('samples.txt %d %d %d baseline.txt\n' % (hanning, nb_section, n))
    subprocess.run([baseline], cwd=work, check=True, stdin=subprocess.DEVNULL)
    samples = np.loadtxt(data)
    dt = float(np.float32(samples[1, 0] - samples[0, 0]))
    _, psd_v, psd_i = welch_psd.design_psd(samples[:, 1], samples[:, 2], dt, hanning,
                                           nb_section, n)
    welch_psd.write_report(os.path.join(work, 'welch.txt'), 'samples.txt', hanning, nb_section,
                           n, dt, psd_v, psd_i)
    return bench.compare_reports(summary, os.path.join(work, 'baseline.txt'),
                                 os.path.join(work, 'welch.txt'), 1e-4)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    gen, baseline, summary = (os.path.abspath(a) for a in argv[1:])
    all_agree = True
    worst = 0.0
    with tempfile.TemporaryDirectory(prefix='psd-baseline-check-') as work:
        for case in CASES:
            agree, dev, _, message = run_case(gen, baseline, summary, work, *case)
            print('lines=%d hanning=%d nb_section=%d N=%d: %s' % (case[0], case[3], case[4],
                                                                  case[5], message))
            all_agree = all_agree and agree
            worst = max(worst, dev)
    print('baseline vs scipy welch: %s (max_rel=%.2e over %d cases, tolerance 1e-4)'
          % ('PASS' if all_agree else 'FAIL', worst, len(CASES)))
    return 0 if all_agree else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
