#!/usr/bin/env bash
# End-to-end benchmark of psd on long records.
#
#   bench/e2e/run.sh [--quick] [--runs N] [--build-dir DIR] [--data-dir DIR] [--out FILE]
#
# Builds psd and the helper programs (psd_e2e_gen, psd_e2e_scan, psd_e2e_baseline) in the build
# directory, generates seeded sample files of 1 and 10 million lines (~40 and ~405 MB; --quick:
# the 1M file only) or reuses them when their checksum still matches, and times, for N = 1024
# with the Hann window, nb_section = all sections and nb_section = 8:
#   - psd;
#   - the plain baseline (bench/e2e/baseline.cpp: fgets count, fscanf + strtod, radix-2 FFT);
#   - numpy.loadtxt + scipy.signal.welch (bench/e2e/welch_psd.py), when /usr/bin/python3 has
#     numpy and scipy (apt-get install python3-numpy python3-scipy);
#   - the scan floor: 1 MiB block reads + memchr line-feed count (bench/e2e/scan_floor.cpp).
# Times are hyperfine medians (apt-get install hyperfine; without it, medians of plain repeated
# runs); peak memory is /usr/bin/time -v's maximum resident set size (apt-get install time).
# Before timing, the baseline is checked against scipy welch on small files
# (bench/e2e/check_baseline.py), and every report is compared with the baseline's.
#
# Prints a markdown report, also written to --out (default BUILD/bench-results.md), with one
# PASS/FAIL line per target. Exits 0 whatever the verdicts; non-zero only when something cannot
# be built, generated or run.
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
HANNING=1
SEED=20240611
DELTAT=0.001
# Targets of the issue "Fast on long records".
TARGET_SPEEDUP=5
TARGET_MBPS=600
TARGET_FLOOR_RATIO=1.5
if [ "$QUICK" = 1 ]; then SIZES="1000000"; else SIZES="1000000 10000000"; fi
TARGET_LINES=${SIZES##* }

log() { echo "== $*" >&2; }
calc() { awk "BEGIN { printf(\"%s\", $*) }"; }
fmt() { awk -v x="$2" "BEGIN { printf(\"$1\", x) }"; }
human_lines() { awk -v n="$1" 'BEGIN { if (n % 1000000 == 0) printf("%dM", n / 1e6); else printf("%d", n) }'; }

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
[ -n "$PY_STD" ] || NOTES+=("no python3 found: reports not compared.")

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
# time_median DIR WARMUP RUNS CMD... : sets MEDIAN (seconds), running CMD in DIR.
time_median() {
    local dir=$1 warmup=$2 runs=$3
    shift 3
    if [ "$HAVE_HYPERFINE" = 1 ]; then
        local cmd="" a
        for a in "$@"; do cmd+="$(printf '%q' "$a") "; done
        (cd "$dir" && hyperfine -N --style basic --warmup "$warmup" --runs "$runs" \
            --export-csv "$WORK/hyperfine.csv" -- "$cmd") >&2 || die "failed to time: $*"
        MEDIAN=$(awk -F, 'NR == 2 { print $(NF - 4) }' "$WORK/hyperfine.csv")
    else
        local i t0 t1 times=()
        for ((i = 0; i < warmup + runs; i++)); do
            t0=$(date +%s%N)
            (cd "$dir" && "$@" </dev/null >/dev/null) || die "failed to run: $*"
            t1=$(date +%s%N)
            [ "$i" -ge "$warmup" ] && times+=("$(calc "($t1 - $t0) / 1e9")")
        done
        MEDIAN=$(printf '%s\n' "${times[@]}" | sort -g |
            awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
    fi
}

# measure_once DIR CMD... : one run under /usr/bin/time; sets PEAK_MB ("n/a" without time) and
# CONSOLE (what the command wrote on stdout). Fails the script if the command fails.
measure_once() {
    local dir=$1
    shift
    local status=0
    if [ "$HAVE_TIME" = 1 ]; then
        (cd "$dir" && /usr/bin/time -v -o "$WORK/time.txt" "$@" </dev/null >"$WORK/console.txt") ||
            status=$?
        local kb
        kb=$(awk -F': *' '/Maximum resident set size/ { print $2 }' "$WORK/time.txt")
        PEAK_MB=$(calc "$kb * 1024 / 1e6")
    else
        (cd "$dir" && "$@" </dev/null >"$WORK/console.txt") || status=$?
        PEAK_MB="n/a"
    fi
    CONSOLE=$(cat "$WORK/console.txt")
    [ "$status" = 0 ] || die "failed (status $status) in $dir: $* ${CONSOLE:+: $CONSOLE}"
}

# compare_with DIR REPORT TOLERANCE : sets AGREEMENT, a short verdict against the baseline report.
compare_with() {
    local dir=$1 report=$2 tol=$3
    if [ ! -s "$dir/$report" ]; then
        AGREEMENT="NO REPORT"
    elif [ ! -s "$dir/report_baseline.txt" ]; then
        AGREEMENT="no baseline report"
    elif [ -z "$PY_STD" ]; then
        AGREEMENT="not compared"
    else
        AGREEMENT=$("$PY_STD" "$HERE/compare_reports.py" "$dir/report_baseline.txt" "$dir/$report" "$tol" |
            sed 's/ bins=[0-9]*//') || true
    fi
}

ROWS=()
TARGETS=()
# verdict OK TEXT: a speed or memory figure of a psd that wrote no report (a stub, a crash that
# still exits 0) says nothing, so it cannot pass.
verdict() {
    if [ "$1" = 1 ] && [ "${PSD_WROTE:-1}" = 0 ]; then
        TARGETS+=("- **FAIL** $2 (psd wrote no report: figure not meaningful)")
    elif [ "$1" = 1 ]; then TARGETS+=("- **PASS** $2"); else TARGETS+=("- **FAIL** $2"); fi
}
row() { ROWS+=("| $1 | $2 | $3 | $4 | $5 | $6 | $7 | $8 |"); }
mbps() { calc "$1 / $2 / 1e6"; }
# psd keeps samples, spectra and sums in 32-bit floats; modelled in numpy on these files, that
# moves its report by up to 6e-5 (8 sections) from the double-precision baseline. 3e-4 leaves room
# for that and still catches a normalisation slip such as Hann's (N - 1) / N, about 1e-3.
PSD_TOL=3e-4
ALL_AGREE=1

for lines in $SIZES; do
    ensure_data "$lines"
    name=$(human_lines "$lines")
    mb=$(fmt '%.1f' "$(calc "$BYTES / 1e6")")
    runs=${RUNS:-$([ "$lines" -ge 5000000 ] && echo 3 || echo 5)}
    file_label="$name lines, $mb MB"

    log "scan floor on $FILE"
    measure_once "$WORK" "$SCAN" "$FILE"
    [ "${CONSOLE%% *}" = "$lines" ] || die "scan counted '${CONSOLE%% *}' lines in $FILE, expected $lines"
    scan_peak=$PEAK_MB
    time_median "$WORK" 1 "$runs" "$SCAN" "$FILE"
    scan_s=$MEDIAN
    row "$file_label" "scan floor" "1 MiB reads + memchr" "$(fmt '%.3f' "$scan_s")" \
        "$(fmt '%.0f' "$(mbps "$BYTES" "$scan_s")")" "$(fmt '%.1f' "$scan_peak")" "" ""

    all=$((lines / N))
    for sections in "$all" 8; do
        case_label=$([ "$sections" = "$all" ] && echo "all: M=$sections" || echo "M=$sections")
        used=$((sections * N))
        budget=$(calc "(8 * $used + 16e6) / 1e6")
        dir="$WORK/case_${lines}_${sections}"
        rm -rf "$dir"
        mkdir -p "$dir"
        # A short relative name keeps data_file within psd's 127 characters.
        ln -s "$FILE" "$dir/samples.txt"
        printf 'samples.txt %d %d %d report_psd.txt\n' "$HANNING" "$sections" "$N" >"$dir/config_psd.txt"

        log "baseline, $name lines, nb_section=$sections"
        # The baseline reads config_psd.txt too: it runs in a folder of its own so that the
        # reports of the two never overwrite each other.
        mkdir -p "$dir/baseline"
        ln -s "$FILE" "$dir/baseline/samples.txt"
        printf 'samples.txt %d %d %d report_baseline.txt\n' "$HANNING" "$sections" "$N" \
            >"$dir/baseline/config_psd.txt"
        measure_once "$dir/baseline" "$BASE"
        base_peak=$PEAK_MB
        cp "$dir/baseline/report_baseline.txt" "$dir/report_baseline.txt"
        time_median "$dir/baseline" 0 "$runs" "$BASE"
        base_s=$MEDIAN

        log "psd, $name lines, nb_section=$sections"
        measure_once "$dir" "$PSD"
        [ -z "$CONSOLE" ] || die "psd failed in $dir: $CONSOLE"
        psd_peak=$PEAK_MB
        compare_with "$dir" report_psd.txt "$PSD_TOL"
        psd_agreement=$AGREEMENT
        PSD_WROTE=$([ "$psd_agreement" = "NO REPORT" ] && echo 0 || echo 1)
        case "$psd_agreement" in agree*) ;; *) ALL_AGREE=0 ;; esac
        time_median "$dir" 1 "$runs" "$PSD"
        psd_s=$MEDIAN

        psd_mbps=$(mbps "$BYTES" "$psd_s")
        row "$file_label" "$case_label, $used samples" "**psd**" "$(fmt '%.3f' "$psd_s")" \
            "$(fmt '%.0f' "$psd_mbps")" "$(fmt '%.1f' "$psd_peak") (budget $(fmt '%.1f' "$budget"))" \
            "$(fmt '%.2f' "$(calc "$psd_s / $scan_s")")x scan" "$psd_agreement"
        row "$file_label" "$case_label" "baseline" "$(fmt '%.3f' "$base_s")" \
            "$(fmt '%.0f' "$(mbps "$BYTES" "$base_s")")" "$(fmt '%.1f' "$base_peak")" \
            "psd $(fmt '%.1f' "$(calc "$base_s / $psd_s")")x faster" "reference"

        sci_s=""
        if [ "$HAVE_SCIPY" = 1 ]; then
            log "numpy+scipy, $name lines, nb_section=$sections"
            sci=("$PY" "$HERE/welch_psd.py" samples.txt "$HANNING" "$sections" "$N" report_scipy.txt)
            measure_once "$dir" "${sci[@]}"
            sci_peak=$PEAK_MB
            compare_with "$dir" report_scipy.txt 1e-4
            sci_agreement=$AGREEMENT
            time_median "$dir" 0 "$runs" "${sci[@]}"
            sci_s=$MEDIAN
            row "$file_label" "$case_label" "numpy.loadtxt + scipy welch" "$(fmt '%.3f' "$sci_s")" \
                "$(fmt '%.0f' "$(mbps "$BYTES" "$sci_s")")" "$(fmt '%.1f' "$sci_peak")" \
                "psd $(fmt '%.1f' "$(calc "$sci_s / $psd_s")")x faster" "$sci_agreement"
        fi

        if [ "$lines" = "$TARGET_LINES" ]; then
            mem_ok=$([ "$psd_peak" != n/a ] && awk -v p="$psd_peak" -v b="$budget" 'BEGIN { print (p <= b) }' || echo 0)
            if [ "$sections" = "$all" ]; then
                r=$(calc "$base_s / $psd_s")
                verdict "$(awk -v r="$r" -v t="$TARGET_SPEEDUP" 'BEGIN { print (r >= t) }')" \
                    "all sections: psd at least ${TARGET_SPEEDUP}x faster than the baseline: $(fmt '%.1f' "$r")x ($(fmt '%.3f' "$psd_s") s vs $(fmt '%.3f' "$base_s") s)"
                if [ -n "$sci_s" ]; then
                    r=$(calc "$sci_s / $psd_s")
                    verdict "$(awk -v r="$r" -v t="$TARGET_SPEEDUP" 'BEGIN { print (r >= t) }')" \
                        "all sections: psd at least ${TARGET_SPEEDUP}x faster than numpy+scipy: $(fmt '%.1f' "$r")x ($(fmt '%.3f' "$psd_s") s vs $(fmt '%.3f' "$sci_s") s)"
                else
                    TARGETS+=("- **SKIP** all sections: psd at least ${TARGET_SPEEDUP}x faster than numpy+scipy (not installed)")
                fi
                verdict "$(awk -v r="$psd_mbps" -v t="$TARGET_MBPS" 'BEGIN { print (r >= t) }')" \
                    "all sections: psd reads at least $TARGET_MBPS MB/s of sample text: $(fmt '%.0f' "$psd_mbps") MB/s"
                verdict "$mem_ok" \
                    "all sections: psd peak memory at most 8 B per used sample + 16 MB: $(fmt '%.1f' "$psd_peak") MB, budget $(fmt '%.1f' "$budget") MB"
            else
                r=$(calc "$psd_s / $scan_s")
                verdict "$(awk -v r="$r" -v t="$TARGET_FLOOR_RATIO" 'BEGIN { print (r <= t) }')" \
                    "nb_section $sections: psd within ${TARGET_FLOOR_RATIO}x the scan floor: $(fmt '%.2f' "$r")x ($(fmt '%.3f' "$psd_s") s vs $(fmt '%.3f' "$scan_s") s)"
                verdict "$mem_ok" \
                    "nb_section $sections: psd peak memory at most 8 B per used sample + 16 MB: $(fmt '%.1f' "$psd_peak") MB, budget $(fmt '%.1f' "$budget") MB"
            fi
        fi
    done
done
PSD_WROTE=1
verdict "$ALL_AGREE" "every psd report agrees with the baseline's (relative $PSD_TOL on bins with non-negligible power)"

# ---------------------------------------------------------------- report
commit=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)
[ -z "$(git -C "$ROOT" status --porcelain 2>/dev/null)" ] || commit="$commit (uncommitted changes)"
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
compiler=$("$compiler" --version 2>/dev/null | head -1 || echo "$compiler")
timer=$([ "$HAVE_HYPERFINE" = 1 ] && echo "hyperfine $(hyperfine --version | cut -d' ' -f2)" || echo "repeated runs")
{
    echo "## End-to-end benchmark"
    echo
    echo "Command: \`bench/e2e/run.sh$([ "$QUICK" = 1 ] && echo " --quick")$([ -n "$RUNS" ] && echo " --runs $RUNS")\`" \
        "on $(date -u '+%Y-%m-%d %H:%M UTC'), commit $commit, $BUILD_TYPE build ($compiler)," \
        "$(nproc) cores (${cpu:-unknown CPU}), $(free -g | awk '/^Mem:/ { print $2 }') GB RAM."
    echo "Indicative figures: a shared machine, sample file in the page cache."
    echo "Times are medians ($timer; ${RUNS:+$RUNS runs per figure}${RUNS:-5 runs on 1M lines, 3 on 10M}), MB = 10^6 bytes," \
        "MB/s = sample file bytes / median time, peak memory = maximum resident set size (/usr/bin/time -v)." \
        "Sample files: seeded (seed $SEED), deltat $DELTAT, ~40 bytes per line. Every case: N = $N, hanning = $HANNING."
    echo
    echo "Baseline check (C baseline vs scipy welch, small files): $BASELINE_CHECK"
    for note in "${NOTES[@]+"${NOTES[@]}"}"; do echo; echo "$note"; done
    echo
    echo "| file | case | program | median s | MB/s | peak MB | ratio | report vs baseline |"
    echo "|---|---|---|---:|---:|---:|---|---|"
    printf '%s\n' "${ROWS[@]}"
    echo
    if [ "$QUICK" = 1 ]; then
        echo "### Targets, checked on the $(human_lines "$TARGET_LINES")-line file (--quick: the targets are set for 10M lines)"
    else
        echo "### Targets, checked on the $(human_lines "$TARGET_LINES")-line file"
    fi
    echo
    printf '%s\n' "${TARGETS[@]}"
} | tee "$OUT"
log "results written to $OUT"
