#!/usr/bin/env python3
"""Checks of the end-to-end benchmark's report comparison (bench/e2e/bench.py), which reads every
report through psd-summary --plot-data: when that output grows, the benchmark must still read
the four report columns, or its agreement verdicts silently stop meaning anything.

    bench_reports_test.py PSD PSD_SUMMARY

The report is the bundled example's, written by PSD; the expected bins come from its text read
here directly, line by line, not through psd-summary.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, 'bench', 'e2e'))
import bench  # noqa: E402

SUMMARY = None
EXAMPLE = None  # the example's report, written once for all the checks


def report_lines(path):
    with open(path) as f:
        return f.read().splitlines()


def bins_of_text(path):
    """The four columns of every bin, straight from the report's text (two header lines)."""
    return [tuple(float(v) for v in line.split()) for line in report_lines(path)[2:]]


class BenchReports(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix='psd-bench-test-')

    def tearDown(self):
        shutil.rmtree(self.work)

    def edited_example(self, name, edit):
        """A copy of the example report with edit applied to its list of lines."""
        lines = report_lines(EXAMPLE)
        edit(lines)
        path = os.path.join(self.work, name)
        with open(path, 'w') as f:
            f.write('\n'.join(lines) + '\n')
        return path

    def test_reads_the_four_report_columns_of_every_bin_and_the_run_parameters(self):
        parameters, bins = bench.read_report(SUMMARY, EXAMPLE)
        self.assertEqual(bins, bins_of_text(EXAMPLE))
        # The example: 1 ms interval, 16 sections of 512 points, Hann window.
        for part in ('0.001 s', 'M = 16', 'N = 512', 'Hann'):
            self.assertIn(part, parameters)

    def test_a_report_agrees_with_itself_exactly(self):
        agree, worst, compared, message = bench.compare_reports(SUMMARY, EXAMPLE, EXAMPLE)
        self.assertTrue(agree, message)
        self.assertEqual(worst, 0.0)
        self.assertEqual(compared, 256)

    def test_one_density_off_by_one_percent_is_found_in_its_bin_and_column(self):
        def raise_bin_ten(lines):
            f, v, i, zn = lines[2 + 9].split()
            lines[2 + 9] = '\t'.join([f, '%e' % (float(v) * 1.01), i, zn])
        changed = self.edited_example('changed.txt', raise_bin_ten)
        agree, worst, _, message = bench.compare_reports(SUMMARY, EXAMPLE, changed)
        self.assertFalse(agree)
        # |v - 1.01 v| / (1.01 v) = 0.01 / 1.01, to the report's 7 digits.
        self.assertAlmostEqual(worst, 0.01 / 1.01, places=6)
        self.assertIn('worst at bin 10 column 2', message)

    def test_reports_of_different_windows_are_told_apart(self):
        no_window = self.edited_example(
            'no-window.txt', lambda lines: lines.__setitem__(0, lines[0].replace(
                'hanning = 1', 'hanning = 0')))
        _, _, _, message = bench.compare_reports(SUMMARY, EXAMPLE, no_window)
        self.assertIn('(parameter lines differ)', message)

    def test_a_file_that_is_no_report_raises_with_the_reason(self):
        bad = self.edited_example('bad.txt', lambda lines: lines.__setitem__(5, 'garbage'))
        with self.assertRaises(ValueError) as raised:
            bench.read_report(SUMMARY, bad)
        self.assertIn('bad.txt', str(raised.exception))


def write_example_report(psd, folder):
    """Runs psd on the bundled example in folder; returns its report's path."""
    for name in ('config_psd.txt', 'example_samples.txt'):
        shutil.copy(os.path.join(ROOT, 'examples', name), folder)
    subprocess.run([psd], cwd=folder, stdin=subprocess.DEVNULL, check=True)
    return os.path.join(folder, 'report_psd.txt')


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    SUMMARY = os.path.abspath(sys.argv.pop())
    psd_program = os.path.abspath(sys.argv.pop())
    with tempfile.TemporaryDirectory(prefix='psd-bench-example-') as example_folder:
        EXAMPLE = write_example_report(psd_program, example_folder)
        unittest.main()
