#!/usr/bin/env bash
# End-to-end benchmark of psd on long records.
#
#   bench/e2e/run.sh [--quick] [--runs N] [--build-dir DIR] [--data-dir DIR] [--out FILE]
#                    [--reference PSD]
#
# Builds psd and the helper programs (psd_e2e_gen, psd_e2e_scan, psd_e2e_baseline) in the build
# directory, generates seeded sample files of 1, 10 and 50 million lines (~40, ~405 and ~2025 MB;
# --quick: the 1M file only) or reuses them when their checksum still matches, and times, for
# N = 1024 with the Hann window, nb_section = all sections and nb_section = 8:
#   - psd;
#   - the plain baseline (bench/e2e/baseline.cpp: fgets count, fscanf + strtod, radix-2 FFT);
#   - numpy.loadtxt + scipy.signal.welch (bench/e2e/welch_psd.py), when /usr/bin/python3 has
#     numpy and scipy (apt-get install python3-numpy python3-scipy);
#   - the scan floor: 1 MiB block reads + memchr line-feed count (bench/e2e/scan_floor.cpp).
# The two peers run on files of at most 10M lines (on 50M lines they take minutes and gigabytes).
# psd also runs once with N = 2^20 and nb_section 0 on files of at least 2^20 lines, for its
# peak memory at a large N.
# Times are hyperfine medians (apt-get install hyperfine; without it, medians of plain repeated
# runs); peak memory is /usr/bin/time -v's maximum resident set size (apt-get install time).
# Before timing, the baseline is checked against scipy welch on small files
# (bench/e2e/check_baseline.py). --reference PSD runs another psd build (an earlier commit, say)
# on every psd case, so that the reports can be checked byte for byte.
#
# The script only builds, generates and measures: it writes the raw figures to
# BUILD/bench-work/measurements.tsv and meta.tsv, and bench/e2e/summarize.py turns them into the
# markdown table and one PASS/FAIL line per target, printed and written to --out (default
# BUILD/bench-results.md). Exits 0 whatever the verdicts; non-zero only when something cannot be
# built, generated or run.
#
# Environment: PSD_BENCH_BUILD, PSD_BENCH_DATA, PSD_BENCH_OUT (defaults of the options),
# PSD_BENCH_PYTHON (default /usr/bin/python3), PSD_CMAKE_ARGS (extra configure arguments),
# PSD_BENCH_NO_HYPERFINE=1 (time with plain repeated runs even where hyperfine is installed).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
HERE="$ROOT/bench/e2e"
QUICK=0
RUNS=""
BUILD=${PSD_BENCH_BUILD:-$ROOT/build}
DATA=${PSD_BENCH_DATA:-}
OUT=${PSD_BENCH_OUT:-}
PY=${PSD_BENCH_PYTHON:-/usr/bin/python3}
REFERENCE=""

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
die() {
    echo "run.sh: $*" >&2
    exit 1
}

while [ $# -gt 0 ]; do
    case "$1" in
    --quick) QUICK=1 ;;
    --runs) RUNS=${2:?}; shift ;;
    --build-dir) BUILD=${2:?}; shift ;;
    --data-dir) DATA=${2:?}; shift ;;
    --out) OUT=${2:?}; shift ;;
    --reference) REFERENCE=$(realpath "${2:?}"); shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
    esac
    shift
done
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)
DATA=${DATA:-$BUILD/bench-data}
OUT=${OUT:-$BUILD/bench-results.md}
WORK="$BUILD/bench-work"
mkdir -p "$DATA" "$WORK"
DATA=$(cd "$DATA" && pwd)

N=1024
BIG_N=1048576
HANNING=1
SEED=20240611
DELTAT=0.001
PEERS_MAX_LINES=10000000
if [ "$QUICK" = 1 ]; then SIZES="1000000"; else SIZES="1000000 10000000 50000000"; fi

log() { echo "== $*" >&2; }

# ---------------------------------------------------------------- tools
HAVE_HYPERFINE=0
[ -z "${PSD_BENCH_NO_HYPERFINE:-}" ] && command -v hyperfine >/dev/null && HAVE_HYPERFINE=1
HAVE_TIME=0
[ -x /usr/bin/time ] && /usr/bin/time -v -o /dev/null true 2>/dev/null && HAVE_TIME=1
HAVE_SCIPY=0
[ -x "$PY" ] && "$PY" -c 'import numpy, scipy.signal' 2>/dev/null && HAVE_SCIPY=1
PY_STD=""
for p in "$PY" python3; do
    if command -v "$p" >/dev/null 2>&1; then PY_STD=$(command -v "$p"); break; fi
done
NOTES=()
[ "$HAVE_HYPERFINE" = 1 ] ||
    NOTES+=("hyperfine not found (apt-get install hyperfine): times are medians of plain repeated runs.")
[ "$HAVE_TIME" = 1 ] ||
    NOTES+=("/usr/bin/time not found (apt-get install time): peak memory not measured.")
[ "$HAVE_SCIPY" = 1 ] ||
    NOTES+=("numpy/scipy not found for $PY (apt-get install python3-numpy python3-scipy): numpy+scipy not timed, baseline not checked.")
[ -n "$PY_STD" ] || die "no python3 found: bench/e2e/summarize.py needs one"
[ -z "$REFERENCE" ] || [ -x "$REFERENCE" ] || die "--reference $REFERENCE is not a program"

# ---------------------------------------------------------------- build
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    log "configuring $BUILD"
    # shellcheck disable=SC2086
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release ${PSD_CMAKE_ARGS:-} >&2 ||
        die "configure failed (without GoogleTest, add PSD_CMAKE_ARGS=-DPSD_BUILD_TESTS=OFF)"
fi
log "building psd and the benchmark helpers"
cmake --build "$BUILD" -j 2 --target psd psd_e2e_gen psd_e2e_scan psd_e2e_baseline >&2 ||
    die "build failed"
PSD="$BUILD/psd"
GEN="$BUILD/psd_e2e_gen"
SCAN="$BUILD/psd_e2e_scan"
BASE="$BUILD/psd_e2e_baseline"
for exe in "$PSD" "$GEN" "$SCAN" "$BASE"; do [ -x "$exe" ] || die "missing $exe after the build"; done
BUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
SANITIZE=$(sed -n 's/^PSD_SANITIZE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
[ "$BUILD_TYPE" = Release ] || NOTES+=("WARNING: $BUILD is a '$BUILD_TYPE' build, not Release: psd figures are not representative.")
[ "${SANITIZE:-OFF}" = OFF ] || NOTES+=("WARNING: $BUILD is built with sanitizers: psd figures are not representative.")

# ---------------------------------------------------------------- baseline check
BASELINE_CHECK="not run (needs numpy and scipy)"
if [ "$HAVE_SCIPY" = 1 ]; then
    log "checking the baseline against scipy welch on small files"
    check_out=$("$PY" "$HERE/check_baseline.py" "$GEN" "$BASE") || true
    echo "$check_out" >&2
    BASELINE_CHECK=$(echo "$check_out" | tail -1 | sed 's/^baseline vs scipy welch: //')
    case "$BASELINE_CHECK" in *PASS* | *FAIL*) ;; *) die "the baseline check did not run" ;; esac
fi

# ---------------------------------------------------------------- data
GEN_ID=$(cksum <"$HERE/gen_samples.cpp" | cut -d' ' -f1)

# Sets FILE and BYTES for a file of $1 lines, generating it unless an intact copy is there.
ensure_data() {
    local lines=$1
    FILE="$DATA/samples_${lines}_seed${SEED}.txt"
    local meta="$FILE.meta"
    local want="gen=$GEN_ID lines=$lines seed=$SEED deltat=$DELTAT"
    if [ -f "$FILE" ] && [ -f "$meta" ] && [ "$(head -1 "$meta")" = "$want" ]; then
        local expect actual
        expect=$(sed -n 2p "$meta")
        if [ "$(stat -c %s "$FILE")" = "${expect%% *}" ]; then
            log "verifying $FILE"
            actual=$("$GEN" checksum "$FILE")
            if [ "$actual" = "$expect" ]; then
                BYTES=${actual%% *}
                return
            fi
        fi
        log "$FILE does not match its record: generating it again"
    fi
    local need avail
    need=$((lines * 42))
    avail=$(($(df -Pk "$DATA" | awk 'NR == 2 { print $4 }') * 1024))
    [ "$avail" -gt $((need + 1000000000)) ] || die "not enough disk space in $DATA for $need bytes"
    log "generating $FILE ($lines lines)"
    rm -f "$FILE" "$meta"
    local sum
    sum=$("$GEN" write "$FILE.tmp" "$lines" "$SEED" "$DELTAT") || die "generation failed"
    mv "$FILE.tmp" "$FILE"
    printf '%s\n%s\n' "$want" "$sum" >"$meta"
    BYTES=${sum%% *}
    "$GEN" checksum "$FILE" >/dev/null # leave it in the page cache
}

# ---------------------------------------------------------------- measuring
ROWS="$WORK/measurements.tsv"
printf 'lines\tbytes\tcase\tsections\tn\tprogram\tpeak_kb\ttimes\treport\treference\n' >"$ROWS"

# time_runs DIR WARMUP RUNS CMD... : runs CMD in DIR and sets TIMES to a file of its run times
# (hyperfine's JSON export, or one time in nanoseconds per line).
time_runs() {
    local dir=$1 warmup=$2 runs=$3
    shift 3
    TIMES="$WORK/times_$((++TIMED)).txt"
    if [ "$HAVE_HYPERFINE" = 1 ]; then
        local cmd="" a
        for a in "$@"; do cmd+="$(printf '%q' "$a") "; done
        TIMES="${TIMES%.txt}.json"
        (cd "$dir" && hyperfine -N --style basic --warmup "$warmup" --runs "$runs" \
            --export-json "$TIMES" -- "$cmd") >&2 || die "failed to time: $*"
    else
        local i t0 t1
        : >"$TIMES"
        for ((i = 0; i < warmup + runs; i++)); do
            t0=$(date +%s%N)
            (cd "$dir" && "$@" </dev/null >/dev/null) || die "failed to run: $*"
            t1=$(date +%s%N)
            [ "$i" -ge "$warmup" ] && echo $((t1 - t0)) >>"$TIMES"
        done
    fi
}
TIMED=0

# measure_once DIR CMD... : one run under /usr/bin/time; sets PEAK_KB (empty without time) and
# CONSOLE (what the command wrote on stdout). Fails the script if the command fails.
measure_once() {
    local dir=$1
    shift
    local status=0
    PEAK_KB=""
    if [ "$HAVE_TIME" = 1 ]; then
        (cd "$dir" && /usr/bin/time -v -o "$WORK/time.txt" "$@" </dev/null >"$WORK/console.txt") ||
            status=$?
        PEAK_KB=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$WORK/time.txt")
    else
        (cd "$dir" && "$@" </dev/null >"$WORK/console.txt") || status=$?
    fi
    CONSOLE=$(cat "$WORK/console.txt")
    [ "$status" = 0 ] || die "failed (status $status) in $dir: $* ${CONSOLE:+: $CONSOLE}"
}

# row LINES CASE SECTIONS N PROGRAM PEAK_KB TIMES REPORT REFERENCE
row() { printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$BYTES" "${@:2}" >>"$ROWS"; }

# A folder of its own for each program: each reads config_psd.txt and writes its own report.
# run_folder DIR REPORT SECTIONS N
run_folder() {
    mkdir -p "$1"
    # A short relative name keeps data_file within psd's 127 characters.
    ln -sf "$FILE" "$1/samples.txt"
    printf 'samples.txt %d %d %d %s\n' "$HANNING" "$3" "$4" "$2" >"$1/config_psd.txt"
}

for lines in $SIZES; do
    ensure_data "$lines"
    runs=${RUNS:-$([ "$lines" -ge 5000000 ] && echo 3 || echo 5)}

    log "scan floor on $FILE"
    measure_once "$WORK" "$SCAN" "$FILE"
    [ "${CONSOLE%% *}" = "$lines" ] || die "scan counted '${CONSOLE%% *}' lines in $FILE, expected $lines"
    scan_peak=$PEAK_KB
    time_runs "$WORK" 1 "$runs" "$SCAN" "$FILE"
    row "$lines" scan "" "" "scan floor" "$scan_peak" "$TIMES" "" ""

    all=$((lines / N))
    for sections in "$all" 8; do
        case_name=$([ "$sections" = "$all" ] && echo all || echo "$sections")
        dir="$WORK/case_${lines}_${sections}"
        rm -rf "$dir"

        reference_report=""
        if [ -n "$REFERENCE" ]; then
            run_folder "$dir/reference" report_psd.txt "$sections" "$N"
            log "reference psd, $lines lines, nb_section=$sections"
            measure_once "$dir/reference" "$REFERENCE"
            reference_report="$dir/reference/report_psd.txt"
        fi
        baseline_report=""
        if [ "$lines" -le "$PEERS_MAX_LINES" ]; then
            log "baseline, $lines lines, nb_section=$sections"
            run_folder "$dir/baseline" report_baseline.txt "$sections" "$N"
            measure_once "$dir/baseline" "$BASE"
            base_peak=$PEAK_KB
            time_runs "$dir/baseline" 0 "$runs" "$BASE"
            baseline_report="$dir/baseline/report_baseline.txt"
            row "$lines" "$case_name" "$sections" "$N" baseline "$base_peak" "$TIMES" \
                "$baseline_report" ""
        fi

        log "psd, $lines lines, nb_section=$sections"
        run_folder "$dir/psd" report_psd.txt "$sections" "$N"
        measure_once "$dir/psd" "$PSD"
        [ -z "$CONSOLE" ] || die "psd failed in $dir/psd: $CONSOLE"
        psd_peak=$PEAK_KB
        time_runs "$dir/psd" 1 "$runs" "$PSD"
        row "$lines" "$case_name" "$sections" "$N" psd "$psd_peak" "$TIMES" \
            "$dir/psd/report_psd.txt" "$reference_report"

        if [ "$HAVE_SCIPY" = 1 ] && [ "$lines" -le "$PEERS_MAX_LINES" ]; then
            log "numpy+scipy, $lines lines, nb_section=$sections"
            run_folder "$dir/scipy" report_scipy.txt "$sections" "$N"
            sci=("$PY" "$HERE/welch_psd.py" samples.txt "$HANNING" "$sections" "$N" report_scipy.txt)
            measure_once "$dir/scipy" "${sci[@]}"
            sci_peak=$PEAK_KB
            time_runs "$dir/scipy" 0 "$runs" "${sci[@]}"
            row "$lines" "$case_name" "$sections" "$N" scipy "$sci_peak" "$TIMES" \
                "$dir/scipy/report_scipy.txt" ""
        fi
    done

    if [ "$lines" -ge "$BIG_N" ]; then
        log "psd, $lines lines, nb_section=0, N=$BIG_N (peak memory)"
        dir="$WORK/case_${lines}_bign"
        rm -rf "$dir"
        run_folder "$dir/psd" report_psd.txt 0 "$BIG_N"
        measure_once "$dir/psd" "$PSD"
        [ -z "$CONSOLE" ] || die "psd failed in $dir/psd: $CONSOLE"
        row "$lines" "large N" "$((lines / BIG_N))" "$BIG_N" psd "$PEAK_KB" "" \
            "$dir/psd/report_psd.txt" ""
    fi
done

# ---------------------------------------------------------------- summary
commit=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)
[ -z "$(git -C "$ROOT" status --porcelain 2>/dev/null)" ] || commit="$commit (uncommitted changes)"
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
command="bench/e2e/run.sh"
[ "$QUICK" = 0 ] || command+=" --quick"
[ -z "$RUNS" ] || command+=" --runs $RUNS"
[ -z "$REFERENCE" ] || command+=" --reference $REFERENCE"
{
    printf 'command\t%s\n' "$command"
    printf 'date\t%s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
    printf 'commit\t%s\n' "$commit"
    printf 'build_type\t%s\n' "$BUILD_TYPE"
    printf 'compiler\t%s\n' "$("$compiler" --version 2>/dev/null | head -1 || echo "$compiler")"
    printf 'cores\t%s\n' "$(nproc)"
    printf 'cpu\t%s\n' "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null | head -1)"
    printf 'timer\t%s\n' "$([ "$HAVE_HYPERFINE" = 1 ] && hyperfine --version || echo "repeated runs")"
    printf 'seed\t%s\n' "$SEED"
    printf 'deltat\t%s\n' "$DELTAT"
    printf 'hanning\t%s\n' "$HANNING"
    printf 'quick\t%s\n' "$QUICK"
    printf 'baseline_check\t%s\n' "$BASELINE_CHECK"
    for note in "${NOTES[@]+"${NOTES[@]}"}"; do printf 'note\t%s\n' "$note"; done
} >"$WORK/meta.tsv"
"$PY_STD" "$HERE/summarize.py" "$WORK/meta.tsv" "$ROWS" | tee "$OUT"
log "results written to $OUT"
