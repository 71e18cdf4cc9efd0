#!/usr/bin/env python3
"""Compares two psd-format reports bin by bin (standard library only).

    compare_reports.py REPORT_A REPORT_B [TOLERANCE]

Prints one line, "agree max_rel=<worst relative deviation> bins=<compared bins>" or
"DIFFER ...", and exits 0 when the reports agree, 1 when they differ, 2 when a report is
missing or malformed. The relative deviation is |a - b| / max(|a|, |b|). PSD_v and PSD_i are
compared on bins whose density is at least 1e-6 of the column's largest (the rest is rounding
noise of an almost empty bin), Zn where both of its densities are, and the frequency on every
bin. The default tolerance, 1e-4, is what single-precision samples and sums allow.
"""
import sys

NEGLIGIBLE = 1e-6


def read_report(path):
    with open(path) as f:
        lines = f.read().splitlines()
    if len(lines) < 3 or not lines[0].startswith('data file = ') or 'frequency' not in lines[1]:
        raise ValueError('%s: not a psd report' % path)
    rows = [[float(v) for v in line.split()] for line in lines[2:]]
    if any(len(r) != 4 for r in rows):
        raise ValueError('%s: a data line does not hold four numbers' % path)
    return lines[0], rows


def rel(a, b):
    scale = max(abs(a), abs(b))
    return 0.0 if scale == 0.0 else abs(a - b) / scale


def compare(path_a, path_b, tolerance=1e-4):
    """Returns (agree, worst relative deviation, compared bins, message)."""
    head_a, a = read_report(path_a)
    head_b, b = read_report(path_b)
    if len(a) != len(b):
        return False, float('inf'), 0, 'DIFFER bins %d vs %d' % (len(a), len(b))
    floor = [NEGLIGIBLE * max(max(abs(r[c]) for r in a), max(abs(r[c]) for r in b))
             for c in range(4)]
    worst = 0.0
    where = ''
    compared = 0
    for k, (ra, rb) in enumerate(zip(a, b), start=1):
        strong = [min(abs(ra[c]), abs(rb[c])) >= floor[c] for c in (1, 2)]
        checks = [(0, True), (1, strong[0]), (2, strong[1]), (3, strong[0] and strong[1])]
        counted = False
        for c, wanted in checks:
            if not wanted:
                continue
            d = rel(ra[c], rb[c])
            counted = counted or c > 0
            if d > worst:
                worst, where = d, 'bin %d column %d' % (k, c + 1)
        compared += counted
    agree = worst <= tolerance and compared > 0
    word = 'agree' if agree else 'DIFFER'
    message = '%s max_rel=%.2e bins=%d%s' % (word, worst, compared,
                                             '' if agree else ' worst at ' + where)
    if head_a.split('hanning')[1:] != head_b.split('hanning')[1:]:
        message += ' (parameter lines differ)'
    return agree, worst, compared, message


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit(__doc__)
    tolerance = float(argv[3]) if len(argv) == 4 else 1e-4
    try:
        agree, _, _, message = compare(argv[1], argv[2], tolerance)
    except (OSError, ValueError) as e:
        print('unreadable: %s' % e)
        return 2
    print(message)
    return 0 if agree else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
