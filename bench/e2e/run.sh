#!/usr/bin/env bash
# End-to-end benchmark of psd on long records: runs bench/e2e/bench.py, which takes the same
# options and environment variables (bench/e2e/run.sh --help describes them).
#
#   bench/e2e/run.sh [--quick] [--runs N] [--build-dir DIR] [--data-dir DIR] [--out FILE]
#                    [--reference PSD]
#
# The driver needs only a python3's standard library: PSD_BENCH_PYTHON (default /usr/bin/python3,
# which also runs the numpy+scipy peer) when it is there, else python3 on PATH.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
for python in "${PSD_BENCH_PYTHON:-/usr/bin/python3}" python3; do
    if command -v "$python" >/dev/null 2>&1; then
        # Named in the results' command line, so that it shows what was typed.
        PSD_BENCH_ENTRY=run.sh exec "$python" "$here/bench.py" "$@"
    fi
done
echo "run.sh: no python3 found to run bench/e2e/bench.py" >&2
exit 1
