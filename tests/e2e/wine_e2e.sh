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
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

orv_e2e_log "installation in $host"
orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
orv_e2e_set_registry "$host" || { echo "wine reg import failed" >&2; exit 2; }

# (e) and (a): the first instance patches and waits on its box...
orv_e2e_log "case (e)/(a): first instance"
orv_e2e_start "$work/first.err" "$ORV_E2E_EXE"
first=$ORV_E2E_JOB
ORV_E2E_JOBS+=("$first")
first_box=1
orv_e2e_wait_for "$work/first.err" 'Call user32\.MessageBoxW' "$ORV_E2E_LAUNCH_SECONDS" "$first" ||
  first_box=0

# ...while a second one must leave at once, silently.
problems=
if [ "$first_box" = 1 ]; then
  orv_e2e_log "case (e): second instance"
  second_status=0
  orv_e2e_run_patch "$work/second.err" || second_status=$?
  ORV_E2E_CHECK_STAGING=0 orv_e2e_judge "$second_status" "$work/second.err" 0 82 none - ""
else
  problems+="the first instance never showed its box, so no second instance was tried; "
fi

# One watcher for every box from here on: it presses the first instance's
# box, then those of (b), (c) and (d).
orv_e2e_start_watcher "$ORV_E2E_BOXES" 4 2400 || problems+="the box watcher did not start; "
first_status=0
orv_e2e_wait "$first" "$ORV_E2E_LAUNCH_SECONDS" "$ORV_E2E_WATCHER_JOB" || first_status=$?
[ "$first_status" = 0 ] || problems+="first instance exit $first_status after OK; "
orv_e2e_report "(e) second instance" "$problems" "exit 82 (1618), no box; the first one then went on to exit 0"

problems=
orv_e2e_judge "$first_status" "$work/first.err" 0 0 succeeded patched ""
orv_e2e_report "(a) success" "$problems" "$(orv_e2e_saw 0 succeeded patched)"

# (c) A launcher one build older; (d) one without a version.
older_launcher() { orv_e2e_launcher "$host" 4.1.52.0; }
unversioned_launcher() { orv_e2e_launcher "$host" none; }

#            label                             exit box        disk      set-up               check
orv_e2e_case "(b) second run"                  0    not-needed unchanged -                    -
orv_e2e_case "(c) host too old"                106  too-old    unchanged older_launcher       -
orv_e2e_case "(d) launcher without version"    67   failed     unchanged unversioned_launcher -

# Exactly four boxes in all: none extra from any run.
orv_e2e_boxes_case 4

echo "not covered here: no host (App Paths pointing to a missing folder) needs a launch of its own; the native tests cover it"
orv_e2e_summary "wine e2e"
