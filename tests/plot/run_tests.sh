#!/usr/bin/env bash
# Runs tools/psd-plot on the hand-made reports beside this script and checks the images it draws
# and the failures it reports, then its gnuplot script on its own, as it runs on Windows.
# Exits 77 (skipped) when gnuplot is not installed, 1 on a failure.
# Usage: run_tests.sh [PATH/TO/psd-plot]   (PSD_SUMMARY names the built psd-summary)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
plot=${1:-$here/../../tools/psd-plot}

if ! command -v gnuplot >/dev/null 2>&1; then
  echo "SKIP: gnuplot is not installed (Debian package gnuplot-nox)"
  exit 77
fi

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
[ "$(png_size "$scratch/cell 2 report.png")" = 1000x900 ] ||
  fail "default output 'cell 2 report.png' is $(png_size "$scratch/cell 2 report.png"), expected 1000x900"

run "$here/report_psd.txt" "$scratch/spectrum.svg"
expect_success "a realistic report as SVG"
for label in 'PSD_v (V²/Hz)' 'PSD_i (A²/Hz)' 'Zn (Ω)' 'frequency (Hz)' '95 % band of one bin' \
  'Rsn0 band' 'Rsn0 = 1.262e+04 Ω' \
  'data file = esa400_cell2.txt    hanning = 1    nb_section = 8     nbpoint_section = 512'; do
  grep -qF -- ">$label<" "$scratch/spectrum.svg" || fail "the SVG has no text \"$label\""
done
grep -q 'width="1000" height="900"' "$scratch/spectrum.svg" || fail "the SVG is not 1000x900"
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

run "$here/report_truncated.txt" "$scratch/truncated.png"
expect_failure "a report with too few data lines" 1 "is truncated" \
  "nbpoint_section = 16 calls for 8 data lines, found 5"

run "$here/report_partial_line.txt" "$scratch/partial.png"
expect_failure "a report cut in its last line" 1 "is truncated" "(line 10) is cut off"

run "$here/sample_not_a_report.txt" "$scratch/sample.png"
expect_failure "a sample file given as report" 1 "is not a psd report" \
  "line 1 is not the parameter line" \
  '"data file = ... hanning = ... nb_section = ... nbpoint_section = ..."' \
  "lines of four numbers"

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

# Without psd-summary the plot is drawn without bands, and says so.
mkdir -- "$scratch/alone"
cp -- "$plot" "$(dirname -- "$plot")/psd-plot.gp" "$scratch/alone/"
messages=$(env -u PSD_SUMMARY PATH=/usr/bin:/bin "$scratch/alone/psd-plot" "$here/report_psd.txt" \
  "$scratch/alone.svg" 2>&1)
status=$?
expect_success "a plot without psd-summary"
grep -qF 'no confidence bands' <<<"$messages" || fail "no note on the missing bands: $messages"
grep -qF 'band of one bin' "$scratch/alone.svg" && fail "bands drawn without psd-summary"

# The gnuplot script on its own, as on Windows: it runs psd-summary itself.
gp_script=$(dirname -- "$plot")/psd-plot.gp
if [ -n "${PSD_SUMMARY:-}" ]; then
  messages=$(gnuplot -e "PSD_SUMMARY='$PSD_SUMMARY'" -c "$gp_script" "$here/report_psd.txt" \
    "$scratch/direct.png" 2>&1)
  status=$?
  expect_success "the gnuplot script run directly"
  [ "$(png_size "$scratch/direct.png")" = 1000x900 ] || fail "the direct plot has the wrong size"
  messages=$(gnuplot -e "PSD_SUMMARY='$PSD_SUMMARY'" -c "$gp_script" \
    "$here/sample_not_a_report.txt" "$scratch/direct_bad.png" 2>&1)
  status=$?
  expect_failure "the gnuplot script on a sample file" 1 "is not a psd report"
else
  echo "note: PSD_SUMMARY not set, the gnuplot script's own run is not checked"
fi

if [ -e "$scratch/truncated.png" ] || [ -e "$scratch/sample.png" ]; then
  fail "a failed run left an output file"
fi
leftovers=$(ls -A -- "$TMPDIR")
[ -z "$leftovers" ] || fail "temporary files left behind: $leftovers"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all psd-plot checks passed"
