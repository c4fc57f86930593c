#!/usr/bin/env bash
# Regenerates docs/crash-points.md: builds the native tests and ends the
# program just before each call of a clean run, then runs it again on what was
# left. Takes about half a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc 2>/dev/null || echo 2)" --target crash_points
tmp=/tmp
[ -d /dev/shm ] && tmp=/dev/shm
TMPDIR=$tmp build/native/tests/reliability/crash_points --write docs/crash-points.md
