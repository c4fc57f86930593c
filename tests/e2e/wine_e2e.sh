#!/usr/bin/env bash
# The real WinOrvantoPatch1.exe under Wine against a demonstration
# installation made on the Linux side: what a user sees (the one message box,
# its icon) and what is left on disk, per outcome.
#
#   wine_e2e.sh [PATCH.exe [box_watcher.exe]]
#
# Needs the native tools pegen and fileversion (build/native) besides the two
# Windows programs. A Windows process start may cost up to a minute where the
# loader is emulated, so the cases share launches: seven in all (registry,
# watcher, six patch runs). The first instance of case (e) is also case (a)'s
# run: it patches a fresh installation and then waits on its box while the
# second instance is tried. Case "no host" needs a launch of its own and is
# left to the native tests.
#
# Prints one line per case and "wine e2e: N passed, M failed"; exits 1 on any
# failure, 2 when it cannot run at all.
set -uo pipefail
ORV_REPO=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] && ORV_E2E_EXE=$1
[ $# -ge 2 ] && ORV_E2E_WATCHER=$2
# shellcheck source=tests/e2e/lib.sh
. "$ORV_REPO/tests/e2e/lib.sh"
orv_e2e_init || exit 2

work=$(orv_e2e_workdir) || exit 2
host="$work/Program Files/Orvanto"
jobs_to_stop=()
cleanup() { orv_e2e_finish "$work" "${jobs_to_stop[@]}" "${ORV_E2E_JOB:-}"; }
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

TEXT_SUCCEEDED=$ORV_E2E_TEXT_SUCCEEDED
TEXT_NOT_NEEDED=$ORV_E2E_TEXT_NOT_NEEDED
TEXT_HOST_TOO_OLD=$ORV_E2E_TEXT_HOST_TOO_OLD
TEXT_FAILED=$ORV_E2E_TEXT_FAILED

check_box() { orv_e2e_check_box "$work/boxes.log" "$@"; }
check_no_staging() { orv_e2e_check_no_staging "$host"; }
check_patched() { orv_e2e_check_patched "$host"; }

orv_e2e_log "installation in $host"
orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
if ! orv_e2e_set_registry "$host"; then
  echo "wine reg import failed" >&2
  exit 2
fi

# (e) and (a): the first instance patches and waits on its box...
orv_e2e_log "case (e)/(a): first instance"
orv_e2e_start "$work/first.err" "$ORV_E2E_EXE"
first=$ORV_E2E_JOB
jobs_to_stop+=("$first")
first_box=1
orv_e2e_wait_for "$work/first.err" 'Call user32\.MessageBoxW' "$ORV_E2E_LAUNCH_SECONDS" "$first" ||
  first_box=0

# ...while a second one must leave at once, silently.
problems=
if [ "$first_box" = 1 ]; then
  orv_e2e_log "case (e): second instance"
  second_status=0
  orv_e2e_run_patch "$work/second.err" || second_status=$?
  orv_e2e_box_flags "$work/second.err"
  [ "$second_status" = 82 ] || problems+="exit $second_status, expected 82 (1618); "
  [ "$ORV_E2E_CALLS" = 0 ] || problems+="it called MessageBox; "
else
  problems+="the first instance never showed its box, so no second instance was tried; "
fi

# One watcher for every box from here on: it presses the first instance's
# box, then those of (b), (c) and (d).
watcher_ok=1
orv_e2e_start_watcher "$work/boxes.log" 4 2400 || watcher_ok=0
jobs_to_stop+=("$ORV_E2E_WATCHER_JOB")
[ "$watcher_ok" = 1 ] || problems+="the box watcher did not start; "
first_status=0
orv_e2e_wait "$first" "$ORV_E2E_LAUNCH_SECONDS" "$ORV_E2E_WATCHER_JOB" || first_status=$?
[ "$first_status" = 0 ] || problems+="first instance exit $first_status after OK; "
if [ -z "$problems" ]; then
  orv_e2e_report "(e) second instance" "" "exit 82 (1618), no box; the first one then went on to exit 0"
else
  orv_e2e_report "(e) second instance" "$problems"
fi

problems=
[ "$first_status" = 0 ] || problems+="exit $first_status, expected 0; "
check_box 0 "$TEXT_SUCCEEDED" 00000040 "$work/first.err"
check_patched
check_no_staging
if [ -z "$problems" ]; then
  orv_e2e_report "(a) success" "" "exit 0, 'Install Succeeded.' information; 25 files at $ORV_PAYLOAD_VERSION with the table's sizes and times, libraries kept, nothing left over"
else
  orv_e2e_report "(a) success" "$problems"
fi

# (b) Already patched.
orv_e2e_log "case (b)"
before=$(orv_e2e_snapshot "$host")
mark=$(orv_e2e_box_count "$work/boxes.log")
status=0
orv_e2e_run_patch "$work/b.err" || status=$?
problems=
[ "$status" = 0 ] || problems+="exit $status, expected 0; "
check_box "$mark" "$TEXT_NOT_NEEDED" 00000040 "$work/b.err"
[ "$(orv_e2e_snapshot "$host")" = "$before" ] || problems+="the installation changed; "
check_no_staging
if [ -z "$problems" ]; then
  orv_e2e_report "(b) second run" "" "exit 0, 'There is no need to apply this patch.' information, nothing changed"
else
  orv_e2e_report "(b) second run" "$problems"
fi

# (c) A launcher one build older; (d) one without a version.
run_refused() { # NAME LAUNCHER-VERSION TRACE-NAME TEXT LOW-BYTE FULL-CODE
  orv_e2e_log "case $1"
  orv_e2e_launcher "$host" "$2"
  before=$(orv_e2e_snapshot "$host")
  mark=$(orv_e2e_box_count "$work/boxes.log")
  status=0
  orv_e2e_run_patch "$work/$3.err" || status=$?
  problems=
  [ "$status" = "$5" ] || problems+="exit $status, expected $5 ($6); "
  check_box "$mark" "$4" 00000030 "$work/$3.err"
  [ "$(orv_e2e_snapshot "$host")" = "$before" ] || problems+="the installation changed; "
  check_no_staging
  if [ -z "$problems" ]; then
    orv_e2e_report "$1" "" "exit $5 ($6), warning box as expected, installation unchanged"
  else
    orv_e2e_report "$1" "$problems"
  fi
}
run_refused "(c) host too old" 4.1.52.0 c "$TEXT_HOST_TOO_OLD" 106 1642
run_refused "(d) launcher without version" none d "$TEXT_FAILED" 67 1603

# Exactly four boxes in all: none extra from any run.
watcher_status=0
orv_e2e_wait "$ORV_E2E_WATCHER_JOB" 60 || watcher_status=$?
if [ "$watcher_status" = 0 ]; then
  orv_e2e_report "(boxes) one box per run" "" "the watcher saw exactly 4 boxes after the second instance"
else
  orv_e2e_report "(boxes) one box per run" "watcher exit $watcher_status; log: $(tr '\n' '|' <"$work/boxes.log")"
fi

echo "not covered here: no host (App Paths pointing to a missing folder) needs a launch of its own; the native tests cover it"
orv_e2e_summary "wine e2e"
