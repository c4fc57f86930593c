#!/bin/sh
# Runs one Windows program of this build under Wine, in the private headless
# prefix of wine-setup.sh (its settings in wine-env.sh), as its unprivileged
# user: the cross build's CMAKE_CROSSCOMPILING_EMULATOR.
#
#   wine-run.sh PROGRAM.exe [ARGS...]
#
# The program is copied to a run folder the Wine user can read (the build
# tree may sit in a folder only root may enter), with any further files named
# in ORV_WINE_EXTRA (colon-separated, e.g. helper programs a test starts)
# beside it; it runs with that folder as its working directory. Its standard
# output and error pass through; the exit code is its own (low byte only, as
# for every Linux process). ORV_WINEDEBUG replaces WINEDEBUG=-all for the run.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 1 ] || { echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2; exit 2; }
program=$1
shift
[ -f "$program" ] || { echo "wine-run: no such program: $program" >&2; exit 2; }

"$here/wine-setup.sh"
# shellcheck source=scripts/wine-env.sh
. "$here/wine-env.sh"

# While it runs a program, a run holds this lock shared; the benchmark takes
# it exclusively, so that it measures while no test's program runs and tests
# wait for its runs. Wine's processes never get descriptor 9
# (orv_wine_env), so the session's server, which outlives the run, does not
# keep the lock.
exec 9>"$ORV_WINE_ROOT/run/programs.lock"
flock -s 9

# The first process of a Wine session boots it (wineboot --init starts the
# services), which takes minutes when the loader is emulated. So the session
# is kept: the server lives on for an hour after its last program, and a
# throwaway program boots the session with /dev/null for its output, so
# that no service holds on to the test runner's pipes.
(
  flock 8
  if orv_wine_env wineserver -p3600 </dev/null >/dev/null 2>&1; then
    orv_wine_env wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
  fi
) 8>"$ORV_WINE_ROOT/run/session-start.lock"

run_dir=$(mktemp -d "$ORV_WINE_ROOT/run/XXXXXXXX")
cleanup() {
  rm -rf "$run_dir"
}
trap cleanup EXIT
# A run that is stopped (a test time-out) takes its Wine processes with it.
trap 'orv_wine_env wineserver -k 2>/dev/null || true; exit 143' TERM INT HUP

copy_in() {
  cp "$1" "$run_dir/"
}
copy_in "$program"
if [ -n "${ORV_WINE_EXTRA:-}" ]; then
  old_ifs=$IFS
  IFS=:
  for extra in $ORV_WINE_EXTRA; do
    [ -n "$extra" ] && copy_in "$extra"
  done
  IFS=$old_ifs
fi
chmod -R a+rX "$run_dir"
[ "$(id -u)" = 0 ] && chown -R "$ORV_WINE_USER:" "$run_dir"

cd "$run_dir"
# In the background so that a stop signal is acted on at once; standard input
# is handed on explicitly, as a background job would get /dev/null.
exec 3<&0
orv_wine_env wine "$run_dir/$(basename "$program")" "$@" <&3 3<&- &
status=0
wait $! || status=$?
exit "$status"
