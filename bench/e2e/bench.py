#!/usr/bin/env python3
"""End-to-end benchmark of psd on long records.

    bench/e2e/bench.py [--quick] [--runs N] [--build-dir DIR] [--data-dir DIR] [--out FILE]
                       [--reference PSD]

(bench/e2e/run.sh takes the same options and runs this script.)

Builds psd, psd-summary and the helper programs (psd_e2e_gen, psd_e2e_scan, psd_e2e_baseline) in
the build directory, generates seeded sample files of 1, 10 and 50 million lines (~40, ~405 and
~2025 MB; --quick: the 1M file only) or reuses them when their checksum still matches, and times,
for N = 1024 with the Hann window, nb_section = all sections and nb_section = 8:
  - psd on every core (its default) and psd --threads 1, side by side;
  - the plain baseline (bench/e2e/baseline.cpp: fgets count, fscanf + strtod, radix-2 FFT);
  - numpy.loadtxt + scipy.signal.welch (bench/e2e/welch_psd.py), when PSD_BENCH_PYTHON has numpy
    and scipy (apt-get install python3-numpy python3-scipy);
  - the scan floor: 1 MiB block reads + memchr line-feed count (bench/e2e/scan_floor.cpp).
The two peers run on files of at most 10M lines (on 50M lines they take minutes and gigabytes).
psd also runs once with N = 2^20 and nb_section 0 on files of at least 2^20 lines, for its peak
memory at a large N.
Times are hyperfine medians (apt-get install hyperfine; without it, medians of plain repeated
runs); peak memory is /usr/bin/time -v's maximum resident set size (apt-get install time).
Before timing, the baseline is checked against scipy welch on small files
(bench/e2e/check_baseline.py). --reference PSD times another psd build on every psd case, so that
the reports can be checked byte for byte and psd --threads 1 held against it.

Reports are read only through `psd-summary --plot-data`, the one reader of the report format:
psd's, the baseline's and scipy's reports are compared bin by bin with the baseline's.

Prints a markdown report (how the figures were made, one table row per file, case and program,
then one PASS/FAIL line per target) and writes it to --out (default BUILD/bench-results.md); the
raw figures go to BUILD/bench-work/measurements.tsv, with hyperfine's JSON exports beside it.
Exits 0 whatever the verdicts; 1 when something cannot be built, generated or run.

Environment: PSD_BENCH_BUILD, PSD_BENCH_DATA, PSD_BENCH_OUT (defaults of the options),
PSD_BENCH_PYTHON (the python with numpy and scipy for the scipy peer, default /usr/bin/python3),
PSD_CMAKE_ARGS (extra configure arguments), PSD_BENCH_NO_HYPERFINE=1 (time with plain repeated
runs even where hyperfine is installed).
"""
import argparse
import dataclasses
import datetime
import filecmp
import json
import math
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import time
from typing import Callable, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# ---------------------------------------------------------------- what is measured
N = 1024
BIG_N = 1 << 20
HANNING = 1
SEED = 20240611
DELTAT = '0.001'
SIZES = (1_000_000, 10_000_000, 50_000_000)
QUICK_SIZES = SIZES[:1]
PEERS_MAX_LINES = 10_000_000
FEWER_RUNS_FROM = 5_000_000     # files this long get 3 timed runs instead of 5
BYTES_PER_LINE = 42             # what a generated line may take, for the disk space check
DISK_MARGIN = 1_000_000_000     # left free after generating a file

BUILD_TARGETS = ('psd', 'psd-summary', 'psd_e2e_gen', 'psd_e2e_scan', 'psd_e2e_baseline')
# The helpers build only with the benchmarks asked for, and every report is read by psd-summary.
REQUIRED_OPTIONS = ('PSD_BUILD_BENCHMARKS', 'PSD_BUILD_SUMMARY')

# Names the rows are found by: the programs, and the cases (the scan floor's is SCAN too).
SCAN, PSD, PSD_ONE, BASELINE, SCIPY = 'scan', 'psd', 'psd-1', 'baseline', 'scipy'
REFERENCE = 'reference'
ALL, EIGHT, LARGE_N = 'all', '8', 'large N'
PSD_REPORT = 'report_psd.txt'

# ---------------------------------------------------------------- targets
TARGET_LINES = 10_000_000       # the largest file with the peers
PEAK_MAX_MB = 12.0              # N = 1024, on every file
PEAK_LARGE_BASE_MB = 16.0       # any N: at most this
PEAK_SPREAD_MB = 1.0            # the same within 1 MB on every file: constant in the length
PEAK_PER_POINT = 48             # ... + 48 bytes per point
# psd --threads 1 against the reference build in the same run: no slower, within the noise of a
# shared machine.
SAME_SPEED = 1.05
# psd keeps samples, spectra and sums in 32-bit floats; modelled in numpy on these files, that
# moves its report by up to 6e-5 (8 sections) from the double-precision baseline. 3e-4 leaves
# room for that and still catches a normalisation slip such as Hann's (N - 1) / N, about 1e-3.
PSD_TOLERANCE = 3e-4
SCIPY_TOLERANCE = 1e-4

# Report comparison: densities below this fraction of their column's largest are the rounding
# noise of an almost empty bin; 1e-4 is what single-precision samples and sums allow.
NEGLIGIBLE = 1e-6
DEFAULT_TOLERANCE = 1e-4


@dataclasses.dataclass(frozen=True)
class TimeTarget:
    """A program's median time on a case against a peer's: at most `limit` times the peer's
    (faster=False), or at least `limit` times faster than the peer (faster=True)."""
    what: str                   # the target's subject, 'all sections: psd'
    case: str
    program: str
    peer: Tuple[str, str]       # (case, program) of the row compared with
    peer_text: str
    limit: float
    faster: bool

    def text(self):
        if self.faster:
            return '%s at least %gx faster than %s' % (self.what, self.limit, self.peer_text)
        return '%s at most %gx %s' % (self.what, self.limit, self.peer_text)


TIME_TARGETS = (
    TimeTarget('all sections: psd', ALL, PSD, (SCAN, SCAN), 'the scan floor', 2.5, False),
    TimeTarget('all sections: psd', ALL, PSD, (ALL, BASELINE), 'the baseline', 16.0, True),
    TimeTarget('all sections: psd', ALL, PSD, (ALL, SCIPY), 'numpy+scipy', 10.0, True),
    TimeTarget('nb_section 8: psd', EIGHT, PSD, (SCAN, SCAN), 'the scan floor', 0.5, False),
    TimeTarget('all sections: psd --threads 1', ALL, PSD_ONE, (ALL, REFERENCE),
               'the reference build', SAME_SPEED, False),
    TimeTarget('nb_section 8: psd --threads 1', EIGHT, PSD_ONE, (EIGHT, REFERENCE),
               'the reference build', SAME_SPEED, False),
)


def log(message):
    print('== ' + message, file=sys.stderr, flush=True)


def die(message):
    sys.exit('bench.py: ' + message)


# ---------------------------------------------------------------- reading reports
def read_report(summary, path):
    """(parameters, bins) of a report as psd-summary --plot-data gives them: the caption's
    text after the data file name (interval, M, N, window), and one (frequency, PSD_v, PSD_i, Zn) per bin.
    Raises ValueError with psd-summary's reason when the file is not a valid report."""
    # --no-samples: else the sample file the report names, up to gigabytes here, is read whole
    # for figures this does not use (the coherence, the record's trace).
    done = subprocess.run([summary, '--plot-data', '--no-samples', path],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode != 0:
        raise ValueError(done.stderr.strip() or '%s: psd-summary failed' % path)
    head, *lines = done.stdout.splitlines() or ['']
    assignments, _, title = head.partition('; title = ')
    # Each bin line starts with the report's four columns and goes on with the plot's own
    # (bands, kind, smoothed values); a blank line ends the bins.
    bins = []
    for line in lines:
        fields = line.split()
        if not fields:
            break
        if len(fields) < 4:
            raise ValueError('%s: unexpected output of psd-summary --plot-data' % path)
        bins.append(tuple(float(v) for v in fields[:4]))
    if ('bins = %d' % len(bins)) not in assignments.split('; '):
        raise ValueError('%s: unexpected output of psd-summary --plot-data' % path)
    # The caption opens with the data file's name; what follows it are the run's parameters.
    return title.strip("'").partition(' · ')[2], bins


def relative(a, b):
    scale = max(abs(a), abs(b))
    return 0.0 if scale == 0.0 else abs(a - b) / scale


def compared_columns(row_a, row_b, floors):
    """The frequency always; a density where both reports hold at least its floor; Zn where
    both densities are compared."""
    strong = [min(abs(row_a[c]), abs(row_b[c])) >= floors[c] for c in (1, 2)]
    return [0] + [1] * strong[0] + [2] * strong[1] + [3] * all(strong)


def worst_deviation(a, b):
    """(worst relative deviation, where it is, bins with a density compared)."""
    floors = [NEGLIGIBLE * max(abs(row[c]) for row in a + b) for c in range(4)]
    worst, where, compared = 0.0, '', 0
    for k, (row_a, row_b) in enumerate(zip(a, b), start=1):
        columns = compared_columns(row_a, row_b, floors)
        compared += len(columns) > 1
        for c in columns:
            d = relative(row_a[c], row_b[c])
            if d > worst:
                worst, where = d, 'bin %d column %d' % (k, c + 1)
    return worst, where, compared


def compare_reports(summary, path_a, path_b, tolerance=DEFAULT_TOLERANCE):
    """Compares two reports bin by bin; returns (agree, worst relative deviation, compared
    bins, one-line message). The relative deviation is |a - b| / max(|a|, |b|)."""
    parameters_a, a = read_report(summary, path_a)
    parameters_b, b = read_report(summary, path_b)
    if len(a) != len(b):
        return False, math.inf, 0, 'DIFFER bins %d vs %d' % (len(a), len(b))
    worst, where, compared = worst_deviation(a, b)
    agree = worst <= tolerance and compared > 0
    message = '%s max_rel=%.2e bins=%d%s' % ('agree' if agree else 'DIFFER', worst, compared,
                                             '' if agree else ' worst at ' + where)
    if parameters_a != parameters_b:
        message += ' (parameter lines differ)'
    return agree, worst, compared, message


# ---------------------------------------------------------------- options and tools
def positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError('wants a positive count, not %s' % text)
    return value


def parse_options(argv):
    env = os.environ.get
    parser = argparse.ArgumentParser(prog='bench.py', description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--quick', action='store_true', help='the 1M-line file only')
    parser.add_argument('--runs', type=positive, metavar='N',
                        help='timed runs per program (default 5; 3 on files of 5M lines or more)')
    parser.add_argument('--build-dir', metavar='DIR',
                        default=env('PSD_BENCH_BUILD') or os.path.join(ROOT, 'build'))
    parser.add_argument('--data-dir', metavar='DIR', default=env('PSD_BENCH_DATA'),
                        help='the sample files (default BUILD/bench-data)')
    parser.add_argument('--out', metavar='FILE', default=env('PSD_BENCH_OUT'),
                        help='the markdown report (default BUILD/bench-results.md)')
    parser.add_argument('--reference', metavar='PSD', help='another psd build to compare with')
    options = parser.parse_args(argv)
    options.build_dir = os.path.abspath(options.build_dir)
    options.data_dir = os.path.abspath(options.data_dir or
                                       os.path.join(options.build_dir, 'bench-data'))
    options.out = options.out or os.path.join(options.build_dir, 'bench-results.md')
    options.work = os.path.join(options.build_dir, 'bench-work')
    if options.reference:
        options.reference = os.path.realpath(options.reference)
        if not (os.path.isfile(options.reference) and os.access(options.reference, os.X_OK)):
            die('--reference %s is not a program' % options.reference)
    for folder in (options.build_dir, options.data_dir, options.work):
        os.makedirs(folder, exist_ok=True)
    return options


@dataclasses.dataclass(frozen=True)
class Tools:
    python: str         # the python that runs the scipy peer and the baseline check
    hyperfine: bool
    time: bool
    scipy: bool


def succeeds(argv):
    try:
        return subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def find_tools():
    python = os.environ.get('PSD_BENCH_PYTHON') or '/usr/bin/python3'
    return Tools(
        python=python,
        hyperfine=not os.environ.get('PSD_BENCH_NO_HYPERFINE') and bool(shutil.which('hyperfine')),
        time=succeeds(['/usr/bin/time', '-v', '-o', os.devnull, 'true']),
        scipy=succeeds([python, '-c', 'import numpy, scipy.signal']))


def tool_notes(tools):
    missing = [
        (tools.hyperfine, 'hyperfine not found (apt-get install hyperfine): times are medians of '
                          'plain repeated runs.'),
        (tools.time, '/usr/bin/time not found (apt-get install time): peak memory not measured.'),
        (tools.scipy, 'numpy/scipy not found for %s (apt-get install python3-numpy python3-scipy):'
                      ' numpy+scipy not timed, baseline not checked.' % tools.python),
    ]
    return [note for found, note in missing if not found]


def run_or_die(argv, failure, **kwargs):
    """Runs argv; stops the bench with `failure` if it cannot be run or fails."""
    try:
        done = subprocess.run(argv, **kwargs)
    except OSError as error:
        die('%s: %s' % (failure, error))
    if done.returncode != 0:
        die(failure)
    return done


def output(argv, failure, **kwargs):
    """What argv prints on standard output, stripped; stops the bench if it fails."""
    return run_or_die(argv, failure, stdout=subprocess.PIPE, text=True, **kwargs).stdout.strip()


# ---------------------------------------------------------------- build
def cache_entries(build_dir):
    entries = {}
    with open(os.path.join(build_dir, 'CMakeCache.txt')) as cache:
        for line in cache:
            match = re.match(r'(\w+):\w+=(.*)$', line.rstrip('\n'))
            if match:
                entries[match.group(1)] = match.group(2)
    return entries


def is_on(value):
    return (value or '').upper() in ('ON', 'TRUE', 'YES', 'Y', '1')


def configure_arguments(build_dir):
    """What cmake must be given for the build directory to build every target, or None when
    its cache already has it: a new directory is configured for Release."""
    if not os.path.isfile(os.path.join(build_dir, 'CMakeCache.txt')):
        log('configuring %s' % build_dir)
        return (['-DCMAKE_BUILD_TYPE=Release'] + ['-D%s=ON' % o for o in REQUIRED_OPTIONS] +
                shlex.split(os.environ.get('PSD_CMAKE_ARGS', '')))
    entries = cache_entries(build_dir)
    off = ['-D%s=ON' % o for o in REQUIRED_OPTIONS if not is_on(entries.get(o))]
    if off:
        log('configuring %s again with %s' % (build_dir, ' '.join(off)))
    return off or None


def build(build_dir):
    """Configures when needed, builds, and returns the path of each target."""
    arguments = configure_arguments(build_dir)
    if arguments is not None:
        run_or_die(['cmake', '-S', ROOT, '-B', build_dir] + arguments,
               'configure failed (PSD_CMAKE_ARGS adds configure arguments; without GoogleTest, '
               'PSD_CMAKE_ARGS=-DPSD_BUILD_TESTS=OFF)', stdout=sys.stderr)
    log('building %s' % ', '.join(BUILD_TARGETS))
    run_or_die(['cmake', '--build', build_dir, '-j', '2', '--target', *BUILD_TARGETS],
           'build failed', stdout=sys.stderr)
    programs = {target: os.path.join(build_dir, target) for target in BUILD_TARGETS}
    for path in programs.values():
        if not os.access(path, os.X_OK):
            die('missing %s after the build' % path)
    return programs


def first_line(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True).stdout.split('\n')[0]
    except OSError:
        return ''


def build_info(build_dir):
    """(build type, compiler, warnings for figures that do not represent psd)."""
    entries = cache_entries(build_dir)
    build_type = entries.get('CMAKE_BUILD_TYPE', '')
    compiler = entries.get('CMAKE_CXX_COMPILER', '')
    warnings = []
    if build_type != 'Release':
        warnings.append("WARNING: %s is a '%s' build, not Release: psd figures are not "
                        "representative." % (build_dir, build_type))
    if is_on(entries.get('PSD_SANITIZE')):
        warnings.append('WARNING: %s is built with sanitizers: psd figures are not '
                        'representative.' % build_dir)
    return build_type, first_line([compiler, '--version']) or compiler, warnings


def check_baseline(tools, programs):
    """The baseline check's verdict line, or why it was not run."""
    if not tools.scipy:
        return 'not run (needs numpy and scipy)'
    log('checking the baseline against scipy welch on small files')
    done = subprocess.run([tools.python, os.path.join(HERE, 'check_baseline.py'),
                           programs['psd_e2e_gen'], programs['psd_e2e_baseline'],
                           programs['psd-summary']], stdout=subprocess.PIPE, text=True)
    sys.stderr.write(done.stdout)
    verdict = (done.stdout.splitlines() or [''])[-1].replace('baseline vs scipy welch: ', '', 1)
    if 'PASS' not in verdict and 'FAIL' not in verdict:
        die('the baseline check did not run')
    return verdict


# ---------------------------------------------------------------- sample files
@dataclasses.dataclass(frozen=True)
class SampleFile:
    path: str
    lines: int
    bytes: int


def generator_id():
    """The POSIX checksum of the generator's source: a file made by another generator is made
    again."""
    with open(os.path.join(HERE, 'gen_samples.cpp'), 'rb') as source:
        return output(['cksum'], 'cksum failed', stdin=source).split()[0]


def intact_sums(gen, path, record):
    """The file's "<bytes> <checksum>" when it is there and matches its record, else None."""
    try:
        with open(path + '.meta') as meta:
            wanted, sums = (meta.read().splitlines() + ['', ''])[:2]
        size = os.path.getsize(path)
    except OSError:
        return None
    if wanted != record:
        return None
    if str(size) == sums.split(' ')[0]:
        log('verifying %s' % path)
        if output([gen, 'checksum', path], 'checksum of %s failed' % path) == sums:
            return sums
    log('%s does not match its record: generating it again' % path)
    return None


def generate(gen, path, record, lines):
    need = lines * BYTES_PER_LINE
    if shutil.disk_usage(os.path.dirname(path)).free <= need + DISK_MARGIN:
        die('not enough disk space in %s for %d bytes' % (os.path.dirname(path), need))
    log('generating %s (%d lines)' % (path, lines))
    for stale in (path, path + '.meta'):
        if os.path.exists(stale):
            os.remove(stale)
    sums = output([gen, 'write', path + '.tmp', str(lines), str(SEED), DELTAT],
                  'generation failed')
    os.replace(path + '.tmp', path)
    with open(path + '.meta', 'w') as meta:
        meta.write('%s\n%s\n' % (record, sums))
    output([gen, 'checksum', path], 'checksum of %s failed' % path)  # leaves it in the page cache
    return sums


def ensure_data(gen, data_dir, lines, gen_id):
    """The sample file of `lines` lines, generated unless an intact copy is there."""
    path = os.path.join(data_dir, 'samples_%d_seed%d.txt' % (lines, SEED))
    record = 'gen=%s lines=%d seed=%d deltat=%s' % (gen_id, lines, SEED, DELTAT)
    sums = intact_sums(gen, path, record) or generate(gen, path, record, lines)
    return SampleFile(path, lines, int(sums.split(' ')[0]))


# ---------------------------------------------------------------- cases and programs
@dataclasses.dataclass(frozen=True)
class Case:
    name: str                           # how the targets find it: SCAN, ALL, EIGHT, LARGE_N
    title: str
    nb_section: Optional[int] = None    # what config_psd.txt says (0: every section)
    sections: Optional[int] = None      # M, the sections used
    n: Optional[int] = None
    timed: bool = True                  # else run once, for its peak memory

    @property
    def label(self):
        if self.n is None:
            return self.title
        return '%s: M=%d, N=%d' % (self.title, self.sections, self.n)


def says_nothing(console, data):
    """psd writes nothing on standard output when it succeeds."""
    return 'it wrote %r' % console if console else None


def counts_every_line(console, data):
    counted = console.split(' ')[0]
    return None if counted == str(data.lines) else 'counted %r lines, expected %d' % (
        counted, data.lines)


@dataclasses.dataclass(frozen=True)
class Variant:
    """A program measured on a case, in a folder holding samples.txt and config_psd.txt."""
    name: str                                   # how targets and other rows find it
    label: str                                  # the table's program column
    command: Callable[[Case], List[str]]
    report: Optional[str] = None                # the report it writes in its folder
    warmup: int = 0
    max_lines: Optional[int] = None             # the longest file it runs on
    is_psd: bool = False    # ratio to the scan floor, memory targets, reference, large N
    tolerance: Optional[float] = None           # agreement wanted with the baseline's report
    check: Callable[[str, SampleFile], Optional[str]] = lambda console, data: None

    def runs_on(self, data):
        return self.max_lines is None or data.lines <= self.max_lines


def scan_floor(programs):
    return Variant(SCAN, '1 MiB reads + memchr', lambda case: [programs['psd_e2e_scan'],
                                                               'samples.txt'],
                   warmup=1, check=counts_every_line)


def reference_psd(path):
    """The reference build: timed beside psd, its report the one psd's must equal."""
    return Variant(REFERENCE, 'reference psd', lambda case: [path], PSD_REPORT, warmup=1,
                   check=says_nothing)


def psd_threads():
    """The threads psd takes by default: one per core the system reports."""
    return os.cpu_count() or 1


def case_programs(programs, tools, reference=None):
    """The programs timed on each case, in the table's order; reference: the path of another
    psd build to time beside psd, or None."""
    threads = psd_threads()
    variants = [
        Variant(BASELINE, 'baseline', lambda case: [programs['psd_e2e_baseline']],
                'report_baseline.txt', max_lines=PEERS_MAX_LINES),
    ]
    if reference:
        # Timed in the same run, just before the psd rows: the reference build is today's psd.
        variants.append(reference_psd(reference))
    variants += [
        Variant(PSD_ONE, 'psd --threads 1', lambda case: [programs['psd'], '--threads', '1'],
                PSD_REPORT, warmup=1, is_psd=True, tolerance=PSD_TOLERANCE, check=says_nothing),
        Variant(PSD, 'psd, %d thread%s (every core)' % (threads, '' if threads == 1 else 's'),
                lambda case: [programs['psd']], PSD_REPORT, warmup=1, is_psd=True,
                tolerance=PSD_TOLERANCE, check=says_nothing),
    ]
    if tools.scipy:
        report = 'report_scipy.txt'
        variants.append(Variant(
            SCIPY, 'numpy.loadtxt + scipy welch',
            lambda case: [tools.python, os.path.join(HERE, 'welch_psd.py'), 'samples.txt',
                          str(HANNING), str(case.nb_section), str(case.n), report],
            report, max_lines=PEERS_MAX_LINES, tolerance=SCIPY_TOLERANCE))
    return variants


def plan(data, scan, variants):
    """The cases measured on a file, in the table's order, each with the programs it runs."""
    every = data.lines // N
    timed = [v for v in variants if v.runs_on(data)]
    cases = [(Case(SCAN, 'scan floor'), [scan]),
             (Case(ALL, 'all', every, every, N), timed),
             (Case(EIGHT, 'nb_section 8', 8, 8, N), timed)]
    if data.lines >= BIG_N:
        cases.append((Case(LARGE_N, 'nb_section 0', 0, data.lines // BIG_N, BIG_N, timed=False),
                      [v for v in variants if v.is_psd]))
    return cases


# ---------------------------------------------------------------- running
class Runner:
    """Runs programs once for their output and peak memory, or repeatedly for a median time."""

    def __init__(self, work, tools):
        self.work = work
        self.tools = tools
        self.timed = 0
        # measurements.tsv names this run's time files: an earlier run's would only mislead.
        for name in os.listdir(work):
            if name.startswith('times_'):
                os.remove(os.path.join(work, name))

    def once(self, argv, cwd):
        """(peak resident set in kB or None, what argv wrote on standard output)."""
        time_file = os.path.join(self.work, 'time.txt')
        wrapper = ['/usr/bin/time', '-v', '-o', time_file] if self.tools.time else []
        done = subprocess.run(wrapper + argv, cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, text=True, errors='replace')
        console = done.stdout.rstrip('\n')
        if done.returncode != 0:
            die('failed (status %d) in %s: %s%s' % (done.returncode, cwd, shlex.join(argv),
                                                    ': ' + console if console else ''))
        return (self.peak_kb(time_file) if self.tools.time else None), console

    @staticmethod
    def peak_kb(time_file):
        with open(time_file) as report:
            match = re.search(r'Maximum resident set size \(kbytes\): (\d+)', report.read())
        return int(match.group(1)) if match else None

    def median(self, argv, cwd, warmup, runs):
        """(median seconds, the file of the run times)."""
        self.timed += 1
        export = os.path.join(self.work, 'times_%d.%s' % (
            self.timed, 'json' if self.tools.hyperfine else 'txt'))
        timer = self.hyperfine if self.tools.hyperfine else self.repeated
        return statistics.median(timer(argv, cwd, warmup, runs, export)), export

    @staticmethod
    def hyperfine(argv, cwd, warmup, runs, export):
        run_or_die(['hyperfine', '-N', '--style', 'basic', '--warmup', str(warmup), '--runs',
                    str(runs), '--export-json', export, '--', shlex.join(argv)],
                   'failed to time: %s' % shlex.join(argv), cwd=cwd, stdout=sys.stderr)
        with open(export) as f:
            return json.load(f)['results'][0]['times']

    @staticmethod
    def repeated(argv, cwd, warmup, runs, export):
        times = []
        for i in range(warmup + runs):
            start = time.perf_counter_ns()
            if subprocess.run(argv, cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL).returncode != 0:
                die('failed to run: %s' % shlex.join(argv))
            if i >= warmup:
                times.append(time.perf_counter_ns() - start)
        with open(export, 'w') as f:
            f.write(''.join('%d\n' % t for t in times))
        return [t / 1e9 for t in times]


@dataclasses.dataclass
class Row:
    data: SampleFile
    case: Case
    variant: Variant
    peak_kb: Optional[int]
    report: str = ''
    median: Optional[float] = None
    times: str = ''
    reference: str = ''                 # the reference build's report on the same case
    agreement: str = ''                 # against the baseline's report
    agrees: Optional[bool] = None
    identical: Optional[bool] = None    # byte for byte with the reference's report

    @property
    def peak_mb(self):
        return None if self.peak_kb is None else self.peak_kb * 1024 / 1e6


def run_once(runner, data, case, variant, case_dir):
    """Runs a program once in a folder of its own; returns (folder, peak kB)."""
    folder = os.path.join(case_dir, variant.name)
    os.makedirs(folder)
    # A short relative name keeps data_file within psd's 127 characters.
    os.symlink(data.path, os.path.join(folder, 'samples.txt'))
    if variant.report:
        with open(os.path.join(folder, 'config_psd.txt'), 'w') as config:
            config.write('samples.txt %d %d %d %s\n' % (HANNING, case.nb_section, case.n,
                                                        variant.report))
    log('%s, %d lines, %s' % (variant.label, data.lines, case.label))
    peak_kb, console = runner.once(variant.command(case), folder)
    problem = variant.check(console, data)
    if problem:
        die('%s in %s: %s' % (variant.label, folder, problem))
    return folder, peak_kb


def measure(runner, data, case, variant, case_dir, runs):
    folder, peak_kb = run_once(runner, data, case, variant, case_dir)
    row = Row(data, case, variant, peak_kb,
              report=os.path.join(folder, variant.report) if variant.report else '')
    if case.timed:
        row.median, row.times = runner.median(variant.command(case), folder, variant.warmup,
                                              runs)
    return row


def measure_case(runner, data, case, variants, runs):
    case_dir = os.path.join(runner.work, 'case_%d_%s' % (data.lines, case.name.replace(' ', '')))
    shutil.rmtree(case_dir, ignore_errors=True)
    rows = [measure(runner, data, case, v, case_dir, runs) for v in variants]
    reference_row = next((r for r in rows if r.variant.name == REFERENCE), None)
    for row in rows:
        row.reference = reference_row.report if reference_row and row.variant.is_psd else ''
    return rows


def measure_all(options, tools, programs):
    runner = Runner(options.work, tools)
    scan = scan_floor(programs)
    variants = case_programs(programs, tools, options.reference)
    gen_id = generator_id()
    rows = []
    for lines in QUICK_SIZES if options.quick else SIZES:
        data = ensure_data(programs['psd_e2e_gen'], options.data_dir, lines, gen_id)
        runs = options.runs or (3 if lines >= FEWER_RUNS_FROM else 5)
        for case, case_variants in plan(data, scan, variants):
            rows += measure_case(runner, data, case, case_variants, runs)
    return rows


# ---------------------------------------------------------------- checking the reports
def find(rows, lines, case, name):
    for row in rows:
        if row.data.lines == lines and row.case.name == case and row.variant.name == name:
            return row
    return None


def wrote(report):
    return bool(report) and os.path.exists(report) and os.path.getsize(report) > 0


def agreement(summary, report, baseline, tolerance):
    """(agrees, the table's words) for a report against the baseline's."""
    if not wrote(report):
        return False, 'NO REPORT'
    if not os.path.exists(baseline):
        return False, 'no baseline report'
    try:
        agree, worst, _, _ = compare_reports(summary, baseline, report, tolerance)
    except ValueError as error:
        return False, 'DIFFER (%s)' % error
    return agree, '%s max_rel=%.2e' % ('agree' if agree else 'DIFFER', worst)


def assess(rows, summary):
    """Compares each report with the baseline's and with the reference build's."""
    for row in rows:
        base = find(rows, row.data.lines, row.case.name, BASELINE)
        if row.variant.tolerance is not None and base:
            row.agrees, row.agreement = agreement(summary, row.report, base.report,
                                                  row.variant.tolerance)
        if row.reference:
            row.identical = wrote(row.report) and filecmp.cmp(row.report, row.reference,
                                                              shallow=False)


# ---------------------------------------------------------------- the markdown report
@dataclasses.dataclass
class Meta:
    command: str
    date: str
    build_type: str
    compiler: str
    timer: str
    quick: bool
    baseline_check: str
    notes: List[str]


def cpu_name():
    try:
        with open('/proc/cpuinfo') as cpuinfo:
            match = re.search(r'^model name\s*: (.*)$', cpuinfo.read(), re.MULTILINE)
    except OSError:
        return 'unknown CPU'
    return match.group(1) if match else 'unknown CPU'


def header(meta):
    lines = [
        '## End-to-end benchmark', '',
        'Command: `%s` on %s, %s build (%s), %d cores (%s).' % (
            meta.command, meta.date, meta.build_type, meta.compiler,
            len(os.sched_getaffinity(0)), cpu_name()),
        'Indicative figures: a shared machine, sample files in the page cache. Times are '
        'medians (%s), MB = 10^6 bytes, MB/s = sample file bytes / median time, peak = maximum '
        'resident set size (/usr/bin/time -v). Sample files: seeded (seed %d), deltat %s, ~40 '
        'bytes per line; hanning = %d.' % (meta.timer, SEED, DELTAT, HANNING), '',
        'Baseline check (C baseline vs scipy welch, small files): %s' % meta.baseline_check]
    for note in meta.notes:
        lines += ['', note]
    return lines


def lines_label(lines):
    return '%dM' % (lines // 1_000_000) if lines % 1_000_000 == 0 else str(lines)


def ratio(rows, row):
    """A psd build's time over the scan floor's, and a peer's over psd's on the same case (on
    every core, then on one thread)."""
    if row.median is None or row.variant.name == SCAN:
        return ''
    words = []
    if row.variant.is_psd or row.variant.name == REFERENCE:
        scan = find(rows, row.data.lines, SCAN, SCAN)
        if scan and scan.median:
            words.append('%.2fx scan' % (row.median / scan.median))
    if not row.variant.is_psd:
        psd = find(rows, row.data.lines, row.case.name, PSD)
        one = find(rows, row.data.lines, row.case.name, PSD_ONE)
        if psd and psd.median:
            words.append('psd %.1fx faster' % (row.median / psd.median) + (
                ' (1 thread: %.1fx)' % (row.median / one.median) if one and one.median else ''))
    return '; '.join(words)


def report_words(row):
    if row.variant.name == BASELINE:
        return 'reference'
    words = [row.agreement] if row.agreement else []
    if row.identical is not None:
        words.append('byte-identical to reference' if row.identical else
                     'DIFFERS from reference')
    return '; '.join(words)


def table_row(rows, row):
    program = '**%s**' % row.variant.label if row.variant.is_psd else row.variant.label
    cells = [
        '%s lines, %.1f MB' % (lines_label(row.data.lines), row.data.bytes / 1e6),
        row.case.label, program,
        '' if row.median is None else '%.3f' % row.median,
        '%.0f' % (row.data.bytes / row.median / 1e6) if row.median else '',
        'n/a' if row.peak_mb is None else '%.1f' % row.peak_mb,
        ratio(rows, row), report_words(row)]
    return '| %s |' % ' | '.join(cells)


def table(rows):
    return (['| file | case | program | median s | MB/s | peak MB | ratio | report |',
             '|---|---|---|---:|---:|---:|---|---|'] + [table_row(rows, row) for row in rows])


def verdict(ok, text):
    return '- **%s** %s' % ('SKIP' if ok is None else 'PASS' if ok else 'FAIL', text)


def time_verdict(rows, lines, target):
    """A time figure of a psd that wrote no report (a stub, a crash that still exits 0) says
    nothing, so it cannot pass."""
    ours, peer = find(rows, lines, target.case, target.program), find(rows, lines, *target.peer)
    if not ours or not peer or not ours.median or not peer.median:
        return verdict(None, '%s: not measured' % target.text())
    if target.faster:
        value = peer.median / ours.median
        ok, figure = value >= target.limit, '%.1fx' % value
    else:
        value = ours.median / peer.median
        ok, figure = value <= target.limit, '%.2fx' % value
    return verdict(ok and wrote(ours.report), '%s: %s (%.3f s vs %.3f s)' % (
        target.text(), figure, ours.median, peer.median))


def memory_verdicts(rows):
    peaks = [r.peak_mb for r in rows
             if r.variant.is_psd and r.case.n == N and r.peak_mb is not None]
    verdicts = []
    if peaks:
        sizes = ', '.join(lines_label(s) for s in sorted({r.data.lines for r in rows}))
        verdicts.append(verdict(max(peaks) <= PEAK_MAX_MB, 'N = %d: psd peak memory at most %g MB '
                                'on every file and case: at most %.1f MB' % (
                                    N, PEAK_MAX_MB, max(peaks))))
    # Constant in the length of the record: each psd variant the same on every file, case by case.
    for name, case in dict.fromkeys((r.variant.name, r.case.name) for r in rows
                                    if r.variant.is_psd and r.case.n == N):
        own = [r for r in rows if r.variant.name == name and r.case.name == case and r.peak_mb]
        if own:
            low, high = min(r.peak_mb for r in own), max(r.peak_mb for r in own)
            verdicts.append(verdict(high - low <= PEAK_SPREAD_MB, 'N = %d, %s: %s peak memory '
                                    'the same within %g MB on files of %s lines: %.1f to %.1f MB' % (
                                        N, own[0].case.title, own[0].variant.label,
                                        PEAK_SPREAD_MB, sizes, low, high)))
    for r in rows:
        if r.variant.is_psd and r.case.name == LARGE_N and r.peak_mb is not None:
            budget = PEAK_LARGE_BASE_MB + PEAK_PER_POINT * r.case.n / 1e6
            verdicts.append(verdict(r.peak_mb <= budget, 'N = %d on %s lines: %s peak memory at '
                                    'most %g MB + %d B x N: %.1f MB, budget %.1f MB' % (
                                        r.case.n, lines_label(r.data.lines), r.variant.label,
                                        PEAK_LARGE_BASE_MB, PEAK_PER_POINT, r.peak_mb, budget)))
    return verdicts


def report_verdicts(rows):
    checked = [r.agrees for r in rows if r.variant.is_psd and r.agrees is not None]
    verdicts = [verdict(all(checked), "every psd report agrees with the baseline's (relative %g "
                        "on bins with non-negligible power)" % PSD_TOLERANCE)]
    compared = [r.identical for r in rows if r.identical is not None]
    if compared:
        verdicts.append(verdict(all(compared),
                                "every psd report is byte-identical to the reference build's"))
    return verdicts


def target_file(rows):
    """The target file: 10M lines, else the largest file with the baseline timed."""
    sizes = {r.data.lines for r in rows}
    if TARGET_LINES in sizes:
        return TARGET_LINES
    return max((s for s in sizes if find(rows, s, ALL, BASELINE)), default=max(sizes))


def targets(rows, quick):
    lines = target_file(rows)
    return (['### Targets, checked on the %s-line file%s' % (
                lines_label(lines), ' (--quick: the targets are set for 10M lines)' if quick
                else ''), ''] +
            [time_verdict(rows, lines, t) for t in TIME_TARGETS] +
            memory_verdicts(rows) + report_verdicts(rows))


def markdown(meta, rows):
    return '\n'.join(header(meta) + [''] + table(rows) + [''] + targets(rows, meta.quick))


def write_measurements(path, rows):
    columns = ('lines', 'bytes', 'case', 'sections', 'n', 'program', 'peak_kb', 'median_s',
               'times', 'report', 'reference')
    with open(path, 'w') as tsv:
        tsv.write('\t'.join(columns) + '\n')
        for r in rows:
            values = (r.data.lines, r.data.bytes, r.case.name, r.case.sections, r.case.n,
                      r.variant.name, r.peak_kb, r.median, r.times, r.report, r.reference)
            tsv.write('\t'.join('' if v is None else str(v) for v in values) + '\n')


def command_line(argv):
    # run.sh names itself, so that the figures show the command that was typed.
    entry = os.environ.get('PSD_BENCH_ENTRY') or os.path.basename(sys.argv[0])
    return shlex.join(['bench/e2e/' + entry] + argv)


def main(argv):
    options = parse_options(argv)
    tools = find_tools()
    programs = build(options.build_dir)
    build_type, compiler, warnings = build_info(options.build_dir)
    baseline_check = check_baseline(tools, programs)
    rows = measure_all(options, tools, programs)
    assess(rows, programs['psd-summary'])
    write_measurements(os.path.join(options.work, 'measurements.tsv'), rows)
    meta = Meta(command_line(argv), datetime.datetime.now(datetime.timezone.utc).strftime(
                    '%Y-%m-%d %H:%M UTC'), build_type, compiler,
                first_line(['hyperfine', '--version']) if tools.hyperfine else 'repeated runs',
                options.quick, baseline_check, tool_notes(tools) + warnings)
    text = markdown(meta, rows)
    print(text)
    with open(options.out, 'w') as out:
        out.write(text + '\n')
    log('results written to %s' % options.out)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
