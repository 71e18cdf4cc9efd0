#!/usr/bin/env bash
# Runs tools/psd-plot on the hand-made reports beside this script and checks the images it draws
# and the failures it reports, then its gnuplot script on its own, as it runs on Windows.
# Exits 77 (skipped) when gnuplot or psd-summary is not there, 1 on a failure.
# Usage: run_tests.sh [PATH/TO/psd-plot]   (PSD_SUMMARY names the built psd-summary; by default
# the one beside psd-plot, in its ../build or on PATH, as psd-plot itself looks)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
plot=${1:-$here/../../tools/psd-plot}

if ! command -v gnuplot >/dev/null 2>&1; then
  echo "SKIP: gnuplot is not installed (Debian package gnuplot-nox)"
  exit 77
fi

# psd-summary reads every report the plot draws, so nothing can be checked without it.
summary=${PSD_SUMMARY:-}
if [ -z "$summary" ]; then
  for candidate in "$(dirname -- "$plot")/psd-summary" "$(dirname -- "$plot")/../build/psd-summary"
  do
    if [ -f "$candidate" ] && [ -x "$candidate" ]; then
      summary=$candidate
      break
    fi
  done
  [ -n "$summary" ] || summary=$(command -v psd-summary) || summary=
fi
if [ -z "$summary" ]; then
  echo "SKIP: psd-plot needs psd-summary, which is not built" \
    "(cmake --build build --target psd-summary)"
  exit 77
fi
summary=$(cd -- "$(dirname -- "$summary")" && pwd)/$(basename -- "$summary")
export PSD_SUMMARY=$summary

scratch=$(mktemp -d "${TMPDIR:-/tmp}/psd-plot-test.XXXXXX") || exit 1
trap 'rm -rf -- "$scratch"' EXIT
# psd-plot's own temporary files go here, so the last test can see that none were left behind.
export TMPDIR=$scratch/tmp
mkdir -- "$TMPDIR"

failures=0
fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# run ARGS...: runs psd-plot, keeping its exit status in $status and its messages in $messages.
run() {
  messages=$("$plot" "$@" 2>&1)
  status=$?
}

expect_success() { # WHAT
  [ "$status" -eq 0 ] || fail "$1: exit status $status, messages: $messages"
}

expect_failure() { # WHAT STATUS TEXT...: the run failed with STATUS and said every TEXT
  local what=$1 want=$2 text
  shift 2
  [ "$status" -eq "$want" ] || fail "$what: exit status $status, expected $want"
  for text in "$@"; do
    grep -qF -- "$text" <<<"$messages" || fail "$what: no \"$text\" in: $messages"
  done
}

# png_size FILE: prints "WIDTHxHEIGHT" from the IHDR chunk, which every PNG starts with: the
# 8-byte signature, the chunk length and type, then width and height as 32-bit big-endian.
png_size() {
  local signature w h
  signature=$(od -An -tx1 -N8 -- "$1" | tr -d ' \n')
  [ "$signature" = 89504e470d0a1a0a ] || { echo "not a PNG"; return; }
  read -r w h < <(od -An -tu4 --endian=big -j16 -N8 -- "$1")
  echo "${w}x${h}"
}

# --- Reports that plot

cp -- "$here/report_psd.txt" "$scratch/cell 2 report.txt"
run "$scratch/cell 2 report.txt"
expect_success "a realistic report, default output name"
grep -qF 'left out' <<<"$messages" && fail "a note on left-out bins for a report that has none"
[ "$(png_size "$scratch/cell 2 report.png")" = 1000x900 ] ||
  fail "default output 'cell 2 report.png' is $(png_size "$scratch/cell 2 report.png"), expected 1000x900"

run "$here/report_psd.txt" "$scratch/spectrum.svg"
expect_success "a realistic report as SVG"
# The title is a caption: data file, sampling interval, sections, window and trend removed.
for label in 'PSD_v (V²/Hz)' 'PSD_i (A²/Hz)' 'Zn (Ω)' 'frequency (Hz)' '95 % band of one bin' \
  'esa400_cell2.txt · Δt = 0.1 s · M = 8 × N = 512 · Hann window · section means removed' \
  'above 0.95 of Nyquist: unreliable'; do
  grep -qF -- ">$label<" "$scratch/spectrum.svg" || fail "the SVG has no text \"$label\""
done
grep -q 'width="1000" height="900"' "$scratch/spectrum.svg" || fail "the SVG is not 1000x900"
# The Rsn0 of a report alone has the F interval of uncorrelated V and I; the special bins (bin 1
# with the Hann window, the Nyquist bin) are marked and named in the key, and each slope with its
# value and band.
for label in 'Rsn0 = 1.272e+04 Ω (95 %: 9489 to 1.706e+04)' 'special bin: own band or none' \
  'slope -17.7 dB/decade (0.117 to 3.98 Hz)'; do
  grep -qF -- ">$label<" "$scratch/spectrum.svg" || fail "the SVG has no text \"$label\""
done
# Every log axis is labelled as a power of ten (10^{k} in gnuplot's enhanced text), none as 1e+06.
grep -q '>1e[-+]\|>100000<' "$scratch/spectrum.svg" && fail "an axis is labelled in plain numbers"

# Bin 3 has PSD_i = 0 and Zn = inf, bin 4 PSD_v = 0 and Zn = 0, bin 6 both densities 0 and
# Zn = -nan: each column loses only its own bad bins.
run "$here/report_invalid_bins.txt" "$scratch/invalid.png"
expect_success "a report with zero, infinite and NaN bins"
[ "$(png_size "$scratch/invalid.png")" = 1000x900 ] || fail "invalid-bins plot has the wrong size"
grep -qF 'of 8 bins, left out as zero, infinite or not a number: PSD_v 2, PSD_i 2, Zn 3' \
  <<<"$messages" || fail "the left-out bins were not counted per column: $messages"

sed 's/$/\r/' "$here/report_invalid_bins.txt" >"$scratch/windows.txt"
run "$scratch/windows.txt" "$scratch/windows.PNG"
expect_success "a report with CR LF line ends and an upper-case extension"

# --- Failures

# A report that psd-summary refuses: psd-plot shows psd-summary's own message (psd-plot no longer
# checks the report's layout itself, so the words are psd-summary's) and draws nothing.
run "$here/report_truncated.txt" "$scratch/truncated.png"
expect_failure "a report with too few data lines" 1 \
  "psd-summary: '$here/report_truncated.txt' is truncated" \
  "nbpoint_section = 16 calls for 8 data lines, found 5"

run "$here/report_partial_line.txt" "$scratch/partial.png"
expect_failure "a report cut in its last line" 1 \
  "psd-summary: '$here/report_partial_line.txt' is truncated" \
  "its last line (line 10) is cut off: it has no line end"

run "$here/sample_not_a_report.txt" "$scratch/sample.png"
expect_failure "a sample file given as report" 1 \
  "psd-summary: '$here/sample_not_a_report.txt' is not a psd report" \
  "line 1 is not the parameter line" \
  '"data file = ... hanning = ... nb_section = ... nbpoint_section = ..."'

run "$here/report_psd.txt" "$scratch/no such folder/plot.png"
expect_failure "an output in a missing folder" 1 "cannot write" "does not exist"
mkdir -- "$scratch/folder.png"
run "$here/report_psd.txt" "$scratch/folder.png"
expect_failure "an output that is a folder" 1 "cannot write" "it is a folder"

run "$here/report_psd.txt" "$scratch/plot.jpg"
expect_failure "an unknown output extension" 2 ".png or .svg"
run
expect_failure "no argument" 2 "usage:"
run a.txt b.png c.png
expect_failure "three arguments" 2 "usage:"
GNUPLOT=/nonexistent/gnuplot run "$here/report_psd.txt" "$scratch/nognuplot.png"
expect_failure "gnuplot missing" 1 "gnuplot-nox"

# Without psd-summary nothing can be read, so nothing is drawn: a plain failure that says how to
# get it. (It used to draw without bands; psd-summary now reads the whole report for the plot.)
mkdir -- "$scratch/alone"
cp -- "$plot" "$(dirname -- "$plot")/psd-plot.gp" "$scratch/alone/"
messages=$(env -u PSD_SUMMARY PATH=/usr/bin:/bin "$scratch/alone/psd-plot" "$here/report_psd.txt" \
  "$scratch/alone.svg" 2>&1)
status=$?
expect_failure "a plot without psd-summary" 1 "cannot find psd-summary" \
  "--target psd-summary" "PSD_SUMMARY="
[ -e "$scratch/alone.svg" ] && fail "a plot without psd-summary left an output file"
PSD_SUMMARY=$scratch/no-such-psd-summary run "$here/report_psd.txt" "$scratch/badsummary.png"
expect_failure "PSD_SUMMARY naming no program" 1 \
  "'$scratch/no-such-psd-summary', named by PSD_SUMMARY"

# A psd-summary that cannot give the plot's figures (here one that dies, and one too old to
# count the bins) stops the plot with a message, not with a broken picture.
printf '#!/bin/sh\necho "psd-summary: out of memory" >&2\nexit 3\n' >"$scratch/dying-summary"
printf '#!/bin/sh\necho "level = 0.95; density_low = 0.5; density_high = 2"\necho "1 1 1 1"\n' \
  >"$scratch/old-summary"
chmod +x -- "$scratch/dying-summary" "$scratch/old-summary"
PSD_SUMMARY=$scratch/dying-summary run "$here/report_psd.txt" "$scratch/dying.png"
expect_failure "a psd-summary that fails" 1 "psd-summary: out of memory" "exit status 3"
PSD_SUMMARY=$scratch/old-summary run "$here/report_psd.txt" "$scratch/old.png"
expect_failure "a psd-summary without the bin counts" 1 "gave no bin counts"
for image in alone.svg badsummary.png dying.png old.png; do
  [ -e "$scratch/$image" ] && fail "a run without usable psd-summary left $image"
done

# An installed psd-plot reached through symbolic links finds its gnuplot script in ../share/psd
# and psd-summary beside its real file, not beside the link, whether the system's readlink
# resolves links itself (readlink -f) or psd-plot has to follow them one at a time.
prefix=$scratch/opt/psd
mkdir -p -- "$prefix/bin" "$prefix/share/psd" "$scratch/home/.local/bin" "$scratch/links" \
  "$scratch/old-readlink"
cp -- "$plot" "$prefix/bin/psd-plot"
cp -- "$(dirname -- "$plot")/psd-plot.gp" "$prefix/share/psd/"
ln -s -- "$summary" "$prefix/bin/psd-summary"
ln -s -- ../../../opt/psd/bin/psd-plot "$scratch/home/.local/bin/psd-plot"
ln -s -- "$scratch/home/.local/bin/psd-plot" "$scratch/links/plot"
real_readlink=$(command -v readlink)
# A readlink without -f, like older BSD and macOS ones.
# shellcheck disable=SC2016
printf '#!/bin/sh\ncase $1 in -f) echo "readlink: illegal option -- f" >&2; exit 1 ;; esac\n' \
  >"$scratch/old-readlink/readlink"
printf 'exec %s "$@"\n' "$real_readlink" >>"$scratch/old-readlink/readlink"
chmod +x -- "$scratch/old-readlink/readlink"
for way in "psd-plot" "$scratch/links/plot"; do
  for path in "$scratch/home/.local/bin:/usr/bin:/bin" \
    "$scratch/old-readlink:$scratch/home/.local/bin:/usr/bin:/bin"; do
    rm -f -- "$scratch/linked.png"
    messages=$(cd -- "$scratch/home" && env -u PSD_SUMMARY PATH="$path" "$way" \
      "$here/report_psd.txt" "$scratch/linked.png" 2>&1)
    status=$?
    expect_success "psd-plot run as $way through links, PATH=$path"
    [ "$(png_size "$scratch/linked.png")" = 1000x900 ] ||
      fail "psd-plot run as $way through links, PATH=$path: no 1000x900 image"
  done
done

# The gnuplot script on its own, as on Windows: it runs psd-summary itself.
gp_script=$(dirname -- "$plot")/psd-plot.gp
messages=$(gnuplot -e "PSD_SUMMARY='$summary'" -c "$gp_script" "$here/report_psd.txt" \
  "$scratch/direct.png" 2>&1)
status=$?
expect_success "the gnuplot script run directly"
[ "$(png_size "$scratch/direct.png")" = 1000x900 ] || fail "the direct plot has the wrong size"
grep -qF 'through a pipe' <<<"$messages" && fail "a short report's bins read twice: $messages"
# gnuplot keeps only 1 MiB of a command's output, less than psd-summary gives for
# nbpoint_section = 65536: the script must still draw every bin, the same picture as psd-plot's.
awk 'BEGIN {
  n = 65536
  printf "data file = long.txt    hanning = 1    nb_section = 4     nbpoint_section = %d\n", n
  printf "    frequency        PSD_v           PSD_i            Zn\n"
  for (k = 1; k <= n / 2; k++)
    printf "  %e\t  %e\t  %e\t  %e\n", k / 64, 1e-9 / k, 1e-17 / sqrt(k), 1e4 / sqrt(1 + k / 100)
}' >"$scratch/long.txt"
run "$scratch/long.txt" "$scratch/long-wrapped.svg"
expect_success "a report of 32768 bins"
messages=$(gnuplot -e "PSD_SUMMARY='$summary'" -c "$gp_script" "$scratch/long.txt" \
  "$scratch/long-direct.svg" 2>&1)
status=$?
expect_success "the gnuplot script run directly on a report of 32768 bins"
grep -qF 'through a pipe' <<<"$messages" || fail "no note on the bins read again: $messages"
cmp -s -- "$scratch/long-wrapped.svg" "$scratch/long-direct.svg" ||
  fail "the gnuplot script alone draws a long report unlike psd-plot"
messages=$(gnuplot -e "PSD_SUMMARY='$summary'" -c "$gp_script" \
  "$here/sample_not_a_report.txt" "$scratch/direct_bad.png" 2>&1)
status=$?
expect_failure "the gnuplot script on a sample file" 1 "is not a psd report"
# Without psd-summary it has nothing to draw from, and ends with a failure that names it.
messages=$(gnuplot -e "PSD_SUMMARY='$scratch/no-such-psd-summary'" -c "$gp_script" \
  "$here/report_psd.txt" "$scratch/direct_alone.png" 2>&1)
status=$?
expect_failure "the gnuplot script without psd-summary" 1 "psd-summary" "could not be run"

# Given the assignments line and the bins, the gnuplot script reads no report and runs no
# psd-summary: here the report does not exist and PSD_SUMMARY names nothing, and it still draws.
# The bins file may be psd-summary's output as it is (its assignments line skipped) or the bins
# alone; both give the same picture.
"$summary" --plot-data -- "$here/report_invalid_bins.txt" >"$scratch/plot-data.txt"
tail -n +2 -- "$scratch/plot-data.txt" >"$scratch/bins-only.txt"
assignments=$(head -n 1 -- "$scratch/plot-data.txt")
for bins_file in plot-data.txt bins-only.txt; do
  messages=$(gnuplot -e "PSD_SUMMARY='$scratch/no-such-psd-summary'" -c "$gp_script" \
    "$scratch/no-such-report.txt" "$scratch/given-$bins_file.svg" "$assignments" \
    "$scratch/$bins_file" 2>&1)
  status=$?
  expect_success "the gnuplot script given the assignments and $bins_file, without a report"
done
for label in 'PSD_v (V²/Hz)' 'Zn (Ω)' 'Rsn0 = 8278 Ω (95 %: 4981 to 1.376e+04)' \
  '95 % band of one bin' 'cell7_short.txt · Δt = 0.5 s · M = 4 × N = 16 · no window · section means removed'; do
  grep -qF -- ">$label<" "$scratch/given-plot-data.txt.svg" ||
    fail "the plot from given data has no text \"$label\""
done
cmp -s -- "$scratch/given-plot-data.txt.svg" "$scratch/given-bins-only.txt.svg" ||
  fail "the bins with and without psd-summary's assignments line draw different pictures"
# The same picture as when the script asks psd-summary itself.
messages=$(gnuplot -e "PSD_SUMMARY='$summary'" -c "$gp_script" "$here/report_invalid_bins.txt" \
  "$scratch/asked.svg" 2>&1)
status=$?
expect_success "the gnuplot script asking psd-summary for report_invalid_bins.txt"
cmp -s -- "$scratch/given-plot-data.txt.svg" "$scratch/asked.svg" ||
  fail "the plot from given data differs from the one psd-summary's output gives when asked"

# --- A drifting record: white noise (10 uV and 1 nA, Zn = 10 kohm) with the voltage creeping by
# 10 uV/s, made by psd from its sample file. The record is drawn over time above the spectra,
# with each section's fitted line, and the drift is named; --detrend linear removes it and says so.
psd_exe=$(dirname -- "$summary")/psd
if [ -x "$psd_exe" ]; then
  mkdir -- "$scratch/drift"
  awk 'BEGIN { srand(7); pi = 3.141592653589793
    for (j = 0; j < 4096; j++) {
      r = sqrt(-2 * log(1 - rand())); a = 2 * pi * rand()
      printf "%.2f %.6e %.6e\n", j * 0.01, 1e-5 * r * cos(a) + 1e-5 * j * 0.01, 1e-9 * r * sin(a)
    } }' >"$scratch/drift/drift.txt"
  printf 'drift.txt 1 8 512 report_psd.txt\n' >"$scratch/drift/config_psd.txt"
  (cd -- "$scratch/drift" && "$psd_exe" </dev/null >/dev/null) || fail "psd failed on the drifting record"
  run "$scratch/drift/report_psd.txt" "$scratch/drift.svg"
  expect_success "a drifting record"
  grep -q 'width="1000" height="1250"' "$scratch/drift.svg" || fail "the record's plot is not 1000x1250"
  for label in 'V (µV)' 'I (nA)' 'time (s)' 'fitted line of each section' \
    'drift.txt · Δt = 0.01 s · M = 8 × N = 512 · Hann window · section means removed'; do
    grep -qF -- ">$label<" "$scratch/drift.svg" || fail "the drifting record's plot has no text \"$label\""
  done
  for start in "drift: the sections' lines hold" 'Rn = ' 'slope '; do
    grep -qF -- ">$start" "$scratch/drift.svg" || fail "the drifting record's plot has no \"$start...\""
  done
  run --detrend linear --smooth "$scratch/drift/report_psd.txt" "$scratch/detrended.svg"
  expect_success "a drifting record with --detrend linear --smooth"
  for label in 'fitted linear trend of each section' 'smoothed over 0.1 decade' \
    'drift.txt · Δt = 0.01 s · M = 8 × N = 512 · Hann window · section lines removed'; do
    grep -qF -- ">$label<" "$scratch/detrended.svg" || fail "the detrended plot has no text \"$label\""
  done
  grep -qF ">drift: " "$scratch/detrended.svg" && fail "the detrended plot still names the drift"
  # The gnuplot script alone passes its fifth argument to psd-summary.
  messages=$(gnuplot -e "PSD_SUMMARY='$summary'" -c "$gp_script" "$scratch/drift/report_psd.txt" \
    "$scratch/direct-detrended.svg" '' '' '--detrend quadratic' 2>&1)
  status=$?
  expect_success "the gnuplot script given psd-summary's options"
  grep -qF 'section parabolas removed<' "$scratch/direct-detrended.svg" ||
    fail "the gnuplot script did not pass --detrend quadratic on"
  run --detrend cubic "$scratch/drift/report_psd.txt" "$scratch/cubic.svg"
  expect_failure "an unknown --detrend" 2 "--detrend wants none, linear or quadratic, not 'cubic'"
  [ -e "$scratch/cubic.svg" ] && fail "a refused option left an output file"
  run --frobnicate "$scratch/drift/report_psd.txt"
  expect_failure "an unknown option" 2 "unknown option '--frobnicate'"
fi

for image in truncated.png partial.png sample.png direct_bad.png direct_alone.png; do
  [ -e "$scratch/$image" ] && fail "a failed run left an output file: $image"
done
leftovers=$(ls -A -- "$TMPDIR")
[ -z "$leftovers" ] || fail "temporary files left behind: $leftovers"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all psd-plot checks passed"
