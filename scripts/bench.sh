#!/usr/bin/env bash
# The performance benchmark (not a test; scripts/test.sh does not run it):
# each figure of docs/performance.md beside its yardstick, measured in one
# run on one machine by bench/bench.py (which says what it measures), the
# report by bench/report.py in build/bench/results.txt.
#
#   bash scripts/bench.sh [--runs N] [--no-wine]
#
# N defaults to 21. The Wine part waits (up to ORV_BENCH_WINE_WAIT seconds,
# default 1800) until no test's Wine program runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
exec /usr/bin/python3 "$root/bench/bench.py" "$@"
