#!/usr/bin/env python3
"""Turns the end-to-end benchmark's raw figures into its markdown table and verdicts.

    summarize.py META_TSV MEASUREMENTS_TSV

run.sh writes both files (BUILD/bench-work/meta.tsv and measurements.tsv) and calls this script;
it can also be run again on them by hand. Standard library only. Prints the markdown report: how
the figures were made, one table row per file, case and program, then one PASS/FAIL line per
target. Exits 0 whatever the verdicts.

Each measurement row holds the file's lines and bytes, the case (scan, all, 8, large N), the
sections and section length, the program, its peak resident set in kB, the file of its run
times (hyperfine JSON, or one time in nanoseconds per line), its report and, for psd, the report
of a reference psd build to compare byte for byte.
"""
import csv
import json
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import compare_reports  # noqa: E402

# Targets, checked on the 10M-line file (the largest file with the peers on a --quick run).
TARGET_LINES = 10_000_000
ALL_MAX_SCAN_RATIO = 4.0        # all sections: at most 4x the scan floor
ALL_MIN_BASELINE_SPEEDUP = 8.0  # ... at least 8x faster than the plain C baseline
ALL_MIN_SCIPY_SPEEDUP = 6.0     # ... at least 6x faster than numpy.loadtxt + scipy welch
EIGHT_MAX_SCAN_RATIO = 1.0      # nb_section 8: at most the scan floor
PEAK_MAX_MB = 16.0              # N = 1024, on every file
PEAK_SPREAD_MB = 1.0            # the same within 1 MB on every file: constant in the length
PEAK_PER_POINT = 48             # any N: at most 16 MB + 48 bytes per point
# psd keeps samples, spectra and sums in 32-bit floats; modelled in numpy on these files, that
# moves its report by up to 6e-5 (8 sections) from the double-precision baseline. 3e-4 leaves
# room for that and still catches a normalisation slip such as Hann's (N - 1) / N, about 1e-3.
PSD_TOLERANCE = 3e-4
SCIPY_TOLERANCE = 1e-4

PROGRAM_NAMES = {
    'scan floor': '1 MiB reads + memchr',
    'psd': '**psd**',
    'baseline': 'baseline',
    'scipy': 'numpy.loadtxt + scipy welch',
}


def read_meta(path):
    meta = {'note': []}
    with open(path) as f:
        for line in f.read().splitlines():
            key, _, value = line.partition('\t')
            if key == 'note':
                meta['note'].append(value)
            else:
                meta[key] = value
    return meta


def median_seconds(path):
    if not path:
        return None
    if path.endswith('.json'):
        with open(path) as f:
            return statistics.median(json.load(f)['results'][0]['times'])
    with open(path) as f:
        return statistics.median(int(t) / 1e9 for t in f.read().split())


def lines_label(lines):
    return '%dM' % (lines // 1_000_000) if lines % 1_000_000 == 0 else str(lines)


def wrote(report):
    return bool(report) and os.path.exists(report) and os.path.getsize(report) > 0


def agreement(report, baseline, tolerance):
    if not wrote(report):
        return 'NO REPORT'
    if not baseline or not os.path.exists(baseline):
        return 'no baseline report'
    try:
        agree, worst, _, _ = compare_reports.compare(baseline, report, tolerance)
    except ValueError as error:
        return 'DIFFER (%s)' % error
    return '%s max_rel=%.2e' % ('agree' if agree else 'DIFFER', worst)


def identical(report, reference):
    if not reference:
        return None
    with open(report, 'rb') as a, open(reference, 'rb') as b:
        return a.read() == b.read()


def main(meta_path, rows_path):
    meta = read_meta(meta_path)
    with open(rows_path) as f:
        rows = list(csv.DictReader(f, delimiter='\t'))
    for r in rows:
        r['lines'] = int(r['lines'])
        r['bytes'] = int(r['bytes'])
        r['median'] = median_seconds(r['times'])
        r['peak_mb'] = int(r['peak_kb']) * 1024 / 1e6 if r['peak_kb'] else None

    def find(lines, case, program):
        for r in rows:
            if r['lines'] == lines and r['case'] == case and r['program'] == program:
                return r
        return None

    out = []
    quick = meta.get('quick') == '1'
    out.append('## End-to-end benchmark')
    out.append('')
    out.append('Command: `%s` on %s, commit %s, %s build (%s), %s cores (%s).' % (
        meta.get('command'), meta.get('date'), meta.get('commit'), meta.get('build_type'),
        meta.get('compiler'), meta.get('cores'), meta.get('cpu') or 'unknown CPU'))
    out.append('Indicative figures: a shared machine, sample files in the page cache. Times are '
               'medians (%s), MB = 10^6 bytes, MB/s = sample file bytes / median time, peak = '
               'maximum resident set size (/usr/bin/time -v). Sample files: seeded (seed %s), '
               'deltat %s, ~40 bytes per line; hanning = %s.' % (
                   meta.get('timer'), meta.get('seed'), meta.get('deltat'), meta.get('hanning')))
    out.append('')
    out.append('Baseline check (C baseline vs scipy welch, small files): %s' %
               meta.get('baseline_check'))
    for note in meta['note']:
        out.append('')
        out.append(note)
    out.append('')
    out.append('| file | case | program | median s | MB/s | peak MB | ratio | report |')
    out.append('|---|---|---|---:|---:|---:|---|---|')
    all_identical = None
    all_agree = True
    for r in rows:
        file_label = '%s lines, %.1f MB' % (lines_label(r['lines']), r['bytes'] / 1e6)
        scan = find(r['lines'], 'scan', 'scan floor')
        psd = find(r['lines'], r['case'], 'psd')
        if r['case'] == 'scan':
            case = 'scan floor'
        elif r['case'] == 'large N':
            case = 'nb_section 0: M=%s, N=%s' % (r['sections'], r['n'])
        else:
            case = '%s: M=%s, N=%s' % ('all' if r['case'] == 'all' else 'nb_section 8',
                                        r['sections'], r['n'])
        median = r['median']
        ratio = ''
        report = ''
        if r['program'] == 'psd':
            if median is not None and scan and scan['median']:
                ratio = '%.2fx scan' % (median / scan['median'])
            base = find(r['lines'], r['case'], 'baseline')
            if base:
                report = agreement(r['report'], base['report'], PSD_TOLERANCE)
                all_agree = all_agree and report.startswith('agree')
            same = identical(r['report'], r['reference']) if r['reference'] else None
            if same is not None:
                report += ('; ' if report else '') + (
                    'byte-identical to reference' if same else 'DIFFERS from reference')
                all_identical = same if all_identical is None else all_identical and same
        elif r['program'] in ('baseline', 'scipy') and psd and psd['median'] and median:
            ratio = 'psd %.1fx faster' % (median / psd['median'])
            if r['program'] == 'scipy':
                base = find(r['lines'], r['case'], 'baseline')
                report = agreement(r['report'], base['report'] if base else '', SCIPY_TOLERANCE)
            else:
                report = 'reference'
        out.append('| %s | %s | %s | %s | %s | %s | %s | %s |' % (
            file_label, case, PROGRAM_NAMES[r['program']],
            '%.3f' % median if median is not None else '',
            '%.0f' % (r['bytes'] / median / 1e6) if median else '',
            '%.1f' % r['peak_mb'] if r['peak_mb'] is not None else 'n/a', ratio, report))

    sizes = sorted({r['lines'] for r in rows})
    target = TARGET_LINES if TARGET_LINES in sizes else max(
        (s for s in sizes if find(s, 'all', 'baseline')), default=max(sizes))
    targets = []

    def verdict(ok, text):
        targets.append('- **%s** %s' % ('PASS' if ok else ('SKIP' if ok is None else 'FAIL'),
                                        text))

    # A speed figure of a psd that wrote no report (a stub, a crash that still exits 0) says
    # nothing, so it cannot pass.
    def speed(case, program, minimum, label):
        psd, other = find(target, case, 'psd'), find(target, case, program)
        if not psd or not other:
            verdict(None, '%s: not measured' % label)
            return
        r = other['median'] / psd['median']
        verdict(r >= minimum and wrote(psd['report']), '%s: %.1fx (%.3f s vs %.3f s)' % (
            label, r, psd['median'], other['median']))

    def floor(case, maximum, label):
        psd, scan = find(target, case, 'psd'), find(target, 'scan', 'scan floor')
        if not psd or not scan:
            verdict(None, '%s: not measured' % label)
            return
        r = psd['median'] / scan['median']
        verdict(r <= maximum and wrote(psd['report']), '%s: %.2fx (%.3f s vs %.3f s)' % (
            label, r, psd['median'], scan['median']))

    floor('all', ALL_MAX_SCAN_RATIO, 'all sections: psd at most %gx the scan floor' %
          ALL_MAX_SCAN_RATIO)
    speed('all', 'baseline', ALL_MIN_BASELINE_SPEEDUP,
          'all sections: psd at least %gx faster than the baseline' % ALL_MIN_BASELINE_SPEEDUP)
    speed('all', 'scipy', ALL_MIN_SCIPY_SPEEDUP,
          'all sections: psd at least %gx faster than numpy+scipy' % ALL_MIN_SCIPY_SPEEDUP)
    floor('8', EIGHT_MAX_SCAN_RATIO, 'nb_section 8: psd at most %gx the scan floor' %
          EIGHT_MAX_SCAN_RATIO)
    peaks = [r['peak_mb'] for r in rows
             if r['program'] == 'psd' and r['n'] == '1024' and r['peak_mb'] is not None]
    if peaks:
        verdict(max(peaks) <= PEAK_MAX_MB, 'N = 1024: psd peak memory at most %g MB on every '
                'file and case: at most %.1f MB' % (PEAK_MAX_MB, max(peaks)))
        spread = max(peaks) - min(peaks)
        verdict(spread <= PEAK_SPREAD_MB, 'N = 1024: psd peak memory the same within %g MB on '
                'files of %s lines: %.1f to %.1f MB' % (
                    PEAK_SPREAD_MB, ', '.join(lines_label(s) for s in sizes), min(peaks),
                    max(peaks)))
    for r in rows:
        if r['case'] == 'large N' and r['peak_mb'] is not None:
            budget = PEAK_MAX_MB + PEAK_PER_POINT * int(r['n']) / 1e6
            verdict(r['peak_mb'] <= budget, 'N = %s on %s lines: psd peak memory at most 16 MB + '
                    '%d B x N: %.1f MB, budget %.1f MB' % (
                        r['n'], lines_label(r['lines']), PEAK_PER_POINT, r['peak_mb'], budget))
    verdict(all_agree, 'every psd report agrees with the baseline\'s (relative %g on bins with '
            'non-negligible power)' % PSD_TOLERANCE)
    if all_identical is not None:
        verdict(all_identical, 'every psd report is byte-identical to the reference build\'s')

    out.append('')
    out.append('### Targets, checked on the %s-line file%s' % (
        lines_label(target), ' (--quick: the targets are set for 10M lines)' if quick else ''))
    out.append('')
    out.extend(targets)
    print('\n'.join(out))


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
