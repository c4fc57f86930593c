# shellcheck shell=bash disable=SC2034
# The frame of every tests/e2e/wine_*.sh suite (sourced with the suite's
# arguments, bash): loads lib.sh with the programs named on the command line,
# prepares the prefix, makes the suite's work folder and stops what is left
# running when it ends; then runs cases, each a row of the suite's table:
#
#   orv_e2e_case LABEL EXIT BOX DISK SETUP CHECK [ARGS...]
#
# one run of the patch with ARGS, after the function SETUP ("-" for none),
# judged by its exit code EXIT, its box BOX, what DISK says of the host and
# the function CHECK ("-" for none), which appends to $problems what it finds
# wrong. BOX is one of the outcomes' names (succeeded, not-needed, too-old,
# failed: exactly that box with its icon, one MessageBox call), "~TEXT" (one
# box holding TEXT) or "none" (a quiet run: no MessageBox call at all). DISK
# is "patched" (orv_e2e_check_patched), "unchanged" (the snapshot taken after
# SETUP) or "-". With ORV_E2E_CHECK_STAGING=1 (the default) every case also
# checks that no staging folder or work folder is left.
#
#   . "$ORV_REPO/tests/e2e/harness.sh" [PATCH.exe [SECOND.exe]]
#
# SECOND is the box watcher, or with ORV_E2E_SECOND=helper set before the
# harness is sourced, the win32 test helper (ORV_E2E_HELPER). Exits 2 when the
# suite cannot run at all. A suite may define orv_e2e_suite_cleanup, called
# on exit before the work folder goes.

ORV_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ $# -ge 1 ] && ORV_E2E_EXE=$1
if [ "${ORV_E2E_SECOND:-watcher}" = helper ]; then
  ORV_E2E_HELPER=${2:-$ORV_REPO/build/win32/tests/win32/win32_helper.exe}
elif [ $# -ge 2 ]; then
  ORV_E2E_WATCHER=$2
fi
# shellcheck source=tests/e2e/lib.sh
. "$ORV_REPO/tests/e2e/lib.sh"
orv_e2e_init || exit 2

work=$(orv_e2e_workdir) || exit 2
host="$work/Program Files/Orvanto"
ORV_E2E_CHECK_STAGING=${ORV_E2E_CHECK_STAGING:-1}
# Background jobs that the exit trap stops, besides the last patch run and
# the watcher.
ORV_E2E_JOBS=()
orv_e2e_cleanup() {
  if declare -F orv_e2e_suite_cleanup >/dev/null; then orv_e2e_suite_cleanup; fi
  orv_e2e_finish "$work" "${ORV_E2E_JOBS[@]}" "${ORV_E2E_WATCHER_JOB:-}" "${ORV_E2E_JOB:-}"
}
trap orv_e2e_cleanup EXIT
trap 'exit 143' TERM INT HUP

# orv_e2e_box_spec BOX: ORV_E2E_BOX_TEXT and ORV_E2E_BOX_FLAGS of an
# outcome's name; fails for another name.
orv_e2e_box_spec() {
  case $1 in
    succeeded) ORV_E2E_BOX_TEXT=$ORV_E2E_TEXT_SUCCEEDED ORV_E2E_BOX_FLAGS=00000040 ;;
    not-needed) ORV_E2E_BOX_TEXT=$ORV_E2E_TEXT_NOT_NEEDED ORV_E2E_BOX_FLAGS=00000040 ;;
    too-old) ORV_E2E_BOX_TEXT=$ORV_E2E_TEXT_HOST_TOO_OLD ORV_E2E_BOX_FLAGS=00000030 ;;
    failed) ORV_E2E_BOX_TEXT=$ORV_E2E_TEXT_FAILED ORV_E2E_BOX_FLAGS=00000030 ;;
    *) return 1 ;;
  esac
}

# orv_e2e_judge STATUS TRACE MARK EXIT BOX DISK BEFORE: appends to $problems
# what differs from the row's expectations, for a run that ended with STATUS
# and wrote relay trace TRACE, its boxes those in the watcher's log after the
# first MARK, BEFORE the host's snapshot from before the run.
orv_e2e_judge() {
  local status=$1 trace=$2 mark=$3 want=$4 box=$5 disk=$6 before=$7 boxes
  [ "$status" = "$want" ] || problems+="exit $status, expected $want; "
  case $box in
    none)
      orv_e2e_box_flags "$trace"
      [ "$ORV_E2E_CALLS" = 0 ] || problems+="$ORV_E2E_CALLS MessageBox calls; "
      ;;
    "~"*)
      boxes=$(orv_e2e_boxes_since "$ORV_E2E_BOXES" "$mark")
      [ "$(grep -c . <<<"$boxes")" = 1 ] && grep -qF -- "${box#\~}" <<<"$boxes" ||
        problems+="boxes '${boxes:-none}', expected one saying '${box#\~}'; "
      ;;
    *)
      if orv_e2e_box_spec "$box"; then
        orv_e2e_check_box "$ORV_E2E_BOXES" "$mark" "$ORV_E2E_BOX_TEXT" "$ORV_E2E_BOX_FLAGS" "$trace"
      else
        problems+="the table names no box '$box'; "
      fi
      ;;
  esac
  case $disk in
    patched) orv_e2e_check_patched "$host" ;;
    unchanged) [ "$(orv_e2e_snapshot "$host")" = "$before" ] || problems+="the installation changed; " ;;
    -) ;;
    *) problems+="the table names no disk check '$disk'; " ;;
  esac
  [ "$ORV_E2E_CHECK_STAGING" != 1 ] || orv_e2e_check_no_staging "$host"
}

# What a passing row's line says it saw.
orv_e2e_saw() {
  local want=$1 box=$2 disk=$3 said="exit $1"
  case $box in
    none) said+=", no box" ;;
    "~"*) said+=", one box saying '${box#\~}'" ;;
    *) said+=", the '$box' box" ;;
  esac
  case $disk in
    patched) said+=", the add-in patched as the table says, libraries kept" ;;
    unchanged) said+=", the installation unchanged" ;;
  esac
  [ "$ORV_E2E_CHECK_STAGING" != 1 ] || said+=", nothing left over"
  printf '%s' "$said"
}

orv_e2e_case() {
  local label=$1 want=$2 box=$3 disk=$4 setup=$5 check=$6 name before mark status=0
  shift 6
  # The trace file's name: the label's letters and digits.
  name=$(tr -c 'A-Za-z0-9\n' - <<<"$label")
  orv_e2e_log "case $label"
  problems=
  [ "$setup" = - ] || "$setup" || problems+="the set-up failed; "
  if [ -n "$problems" ]; then
    orv_e2e_report "$label" "$problems"
    return
  fi
  before=$(orv_e2e_snapshot "$host")
  mark=0
  [ ! -f "$ORV_E2E_BOXES" ] || mark=$(orv_e2e_box_count "$ORV_E2E_BOXES")
  orv_e2e_start "$work/$name.err" "$ORV_E2E_EXE" "$@"
  orv_e2e_wait "$ORV_E2E_JOB" "$ORV_E2E_LAUNCH_SECONDS" "${ORV_E2E_WATCHER_JOB:-}" || status=$?
  orv_e2e_judge "$status" "$work/$name.err" "$mark" "$want" "$box" "$disk" "$before"
  [ "$check" = - ] || "$check"
  orv_e2e_report "$label" "$problems" "$(orv_e2e_saw "$want" "$box" "$disk")"
}

# The watcher's log, for the cases that look at boxes.
ORV_E2E_BOXES=$work/boxes.log

# orv_e2e_watch N: one watcher for the suite's N boxes; exits 2 when it does
# not start.
orv_e2e_watch() {
  orv_e2e_start_watcher "$ORV_E2E_BOXES" "$1" 2400 ||
    { echo "the box watcher did not start" >&2; exit 2; }
}

# orv_e2e_boxes_case N: the closing case of a suite with a watcher, which
# ends once it has pressed exactly N boxes.
orv_e2e_boxes_case() {
  local watcher_status=0
  orv_e2e_wait "$ORV_E2E_WATCHER_JOB" 60 || watcher_status=$?
  if [ "$watcher_status" = 0 ]; then
    orv_e2e_report "(boxes) one box per run" "" "the watcher saw exactly $1 boxes"
  else
    orv_e2e_report "(boxes) one box per run" \
      "watcher exit $watcher_status; log: $(tr '\n' '|' <"$ORV_E2E_BOXES")"
  fi
}

# orv_e2e_logged FILE PATTERN: a problem unless the log FILE has a line
# matching the basic regex PATTERN.
orv_e2e_logged() { grep -q -- "$2" "$1" 2>/dev/null || problems+="the log lacks '$2'; "; }
