#!/usr/bin/env bash
# The native program (the POSIX backend) under valgrind's memcheck on
# demonstration installations, once per way a run can end that touches the
# most code:
#   success                     a fresh installation is patched          exit 0
#   not-needed                  the same installation again              exit 0
#   failed (missing library)    an add-in without a library the patch
#                               keeps: staged, copied, then cleaned up   exit 1603
#   failed (backup name taken)  a folder where the old add-in goes aside:
#                               staged, then cleaned up                 exit 1603
# Each run must show 0 memcheck errors and 0 bytes definitely lost, end with
# its exit code (on Linux the low byte: 1603 arrives as 67) and say what it
# should; a failed run must leave the add-in folder as it was. Prints one
# line per run; the logs stay in LOGS. A CTest test of the native build:
#
#   memcheck.sh PROGRAM INSTALL-MAKER LOGS
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 PROGRAM INSTALL-MAKER LOGS" >&2; exit 2; }
exe=$1 install_maker=$2 logs=$3

command -v valgrind >/dev/null 2>&1 || {
  echo "valgrind: not installed (bash scripts/install-deps.sh)" >&2
  exit 1
}
mkdir -p "$logs"
rm -f "$logs"/*.log "$logs"/*.out
# Not a code the program ends with, so memcheck's verdict stands apart.
memcheck_code=99

work=$(mktemp -d "${TMPDIR:-/tmp}/orv-valgrind-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Everything under the host folder: every entry by kind and name, every file
# with its size, time and content. Folder times are left out: probing
# whether the add-in folder is writable may touch them.
snapshot() {
  (cd "$1/Program Files/Orvanto" && find . -printf '%y %p\n' | LC_ALL=C sort &&
    find . -type f -printf '%p %s %T@\n' | LC_ALL=C sort &&
    find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)
}

failures=0
fail() {
  echo "valgrind $1: FAILED, $2 (log $3)" >&2
  failures=$((failures + 1))
}

# NAME DIR EXIT-CODE TEXT: one run under memcheck, judged. Its log is
# $log afterwards.
run() {
  local name=$1 dir=$2 want=$3 text=$4 code=0 errors lost
  log=$logs/$(printf '%s' "$name" | sed 's/[^a-z0-9]\{1,\}/-/g; s/-$//').log
  local out=${log%.log}.out
  ORVANTO_HKLM=$dir/hklm TMPDIR=$dir/tmp valgrind --tool=memcheck --leak-check=full \
    --error-exitcode="$memcheck_code" --log-file="$log" "$exe" </dev/null >"$out" 2>&1 || code=$?
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9,]*\) errors.*/\1/p' "$log" 2>/dev/null | tail -n 1)
  errors=${errors//,/}
  if grep -q 'no leaks are possible' "$log" 2>/dev/null; then
    lost=0
  else
    lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" 2>/dev/null | tail -n 1)
    lost=${lost//,/}
  fi
  if [ -z "$errors" ] || [ -z "$lost" ]; then
    fail "$name" "memcheck gave no summary (exit $code)" "$log"
    return 0
  fi
  if [ "$errors" != 0 ] || [ "$lost" != 0 ]; then
    fail "$name" "$errors errors, $lost bytes definitely lost" "$log"
    return 0
  fi
  if [ "$code" != $((want & 255)) ]; then
    fail "$name" "exit $code, expected $want (low byte $((want & 255)))" "$log"
    return 0
  fi
  if ! grep -qF "$text" "$out"; then
    fail "$name" "the notice does not say \"$text\"" "$out"
    return 0
  fi
  echo "valgrind $name: $errors errors, $lost bytes definitely lost (exit $code)"
}

"$install_maker" posix "$work/a"
run success "$work/a" 0 "Install Succeeded."
run not-needed "$work/a" 0 "There is no need to apply this patch."

"$install_maker" posix "$work/b"
library=$work/b/Program\ Files/Orvanto/Pellmark/Tarnivo.dll
mv "$library" "$work/Tarnivo.dll"
before=$(snapshot "$work/b")
run "failed (missing library)" "$work/b" 1603 "Install Failed."
[ "$(snapshot "$work/b")" = "$before" ] ||
  fail "failed (missing library)" "the host folder changed" "$log"

mv "$work/Tarnivo.dll" "$library"
mkdir "$work/b/Program Files/Orvanto/Pellmark_BAK"
before=$(snapshot "$work/b")
run "failed (backup name taken)" "$work/b" 1603 "Install Failed."
[ "$(snapshot "$work/b")" = "$before" ] ||
  fail "failed (backup name taken)" "the host folder changed" "$log"

[ "$failures" = 0 ]
