#!/bin/sh
# Installs the build into a temporary prefix and checks that the tools, the plot's gnuplot script
# and the man pages are where they belong, and that the installed wrapper finds its script.
# Usage: run_test.sh BUILD_DIR SUMMARY_BUILT(0|1)
set -u
build=$1
summary_built=${2:-1}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/psd-install.XXXXXX") || exit 1
trap 'rm -rf -- "$prefix"' EXIT

if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat -- "$prefix.log"
  rm -f -- "$prefix.log"
  echo "FAIL: cmake --install failed"
  exit 1
fi
rm -f -- "$prefix.log"

failures=0
expect() { # TEST PATH
  if ! test "$1" "$prefix/$2"; then
    echo "FAIL: $prefix/$2 missing (test $1)"
    failures=$((failures + 1))
  fi
}
expect -x bin/psd
expect -x bin/psd-plot
expect -f share/psd/psd-plot.gp
expect -f share/man/man1/psd.1
expect -f share/man/man1/psd-plot.1
if [ "$summary_built" = 1 ]; then
  expect -x bin/psd-summary
  expect -f share/man/man1/psd-summary.1
  "$prefix/bin/psd-summary" --help >/dev/null || {
    echo "FAIL: the installed psd-summary does not run"
    failures=$((failures + 1))
  }
fi
# The wrapper looks for its script before anything else, so a missing one shows even without
# gnuplot: only --help may pass without it.
"$prefix/bin/psd-plot" --help >/dev/null || {
  echo "FAIL: the installed psd-plot does not run"
  failures=$((failures + 1))
}
if command -v gnuplot >/dev/null 2>&1; then
  message=$("$prefix/bin/psd-plot" /nonexistent.txt "$prefix/x.png" 2>&1)
  case $message in
    *psd-plot.gp*) echo "FAIL: the installed psd-plot does not find its script: $message"
      failures=$((failures + 1)) ;;
  esac
fi

[ "$failures" -eq 0 ] || exit 1
echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
