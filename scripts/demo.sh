#!/usr/bin/env bash
# The patch at work: builds it, makes a demonstration installation of the
# host (launcher 4.1.52.1, the add-in folder at 1.0.0.9 with the three
# libraries the patch keeps) in the private Wine prefix's folder, and runs the
# real WinOrvantoPatch1.exe under Wine twice: the first run patches, the
# second finds nothing to do. Shows the add-in folder before and after, and
# each run's message box and exit code.
#
# Where the 32-bit loader is emulated a Windows process start may take up to
# a minute; this makes four (registry, box watcher, two runs).
set -euo pipefail
ORV_REPO=$(cd "$(dirname "$0")/.." && pwd)
cd "$ORV_REPO"
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== building"
cmake --preset native >/dev/null
cmake --build build/native -j"$jobs" --target install-maker fileversion >/dev/null
cmake --preset win32 >/dev/null
cmake --build build/win32 -j"$jobs" --target WinOrvantoPatch1 box_watcher >/dev/null

# shellcheck source=tests/e2e/lib.sh
. tests/e2e/lib.sh
orv_e2e_init || exit 1
# Each step's outcome is checked where it matters; the runs' exit codes are
# shown, not fatal.
set +e -uo pipefail

work=$(orv_e2e_workdir) || exit 1
watcher=
cleanup() {
  [ -n "$watcher" ] && kill -0 "$watcher" 2>/dev/null && orv_e2e_kill_below "$watcher"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

host="$work/Program Files/Orvanto"
orv_e2e_make_install "$host" || exit 1
echo
echo "== demonstration installation"
echo "host folder      $host"
echo "  seen by Wine as $(orv_e2e_winpath "$host")"
echo "launcher version $("$ORV_E2E_FILEVERSION" "$host/Quenbrite.exe")"
echo
echo "== add-in folder BEFORE (path, size, version, modification time, local)"
orv_e2e_listing "$host"
echo

echo "== running under Wine (four Windows processes)"
orv_e2e_set_registry "$host" || { echo "could not set the App Paths entry" >&2; exit 1; }
orv_e2e_start_watcher "$work/boxes.log" 2 1800 || { echo "the box watcher did not start" >&2; exit 1; }
watcher=$ORV_E2E_WATCHER_JOB

meaning() {
  case $1 in
    0) echo "0" ;;
    67) echo "67, the low byte of 1603 (install failed)" ;;
    82) echo "82, the low byte of 1618 (another instance running)" ;;
    106) echo "106, the low byte of 1642 (host too old)" ;;
    *) echo "$1 (unexpected)" ;;
  esac
}

show_run() { # TITLE BOXES-BEFORE TRACE STATUS
  local line caption text
  line=$(orv_e2e_boxes_since "$work/boxes.log" "$2" | head -n1)
  caption=${line%%$'\t'*}
  text=${line#*$'\t'}
  echo
  echo "== $1"
  if [ -z "$line" ]; then
    echo "message box: none seen"
  else
    echo "message box"
    echo "  caption  $caption"
    echo "  text     ${text//\\n/$'\n'           }"
    orv_e2e_box_flags "$3"
    echo "  icon     $(orv_e2e_icon_name "$ORV_E2E_FLAGS")"
  fi
  echo "exit code $(meaning "$4")"
}

status=0
orv_e2e_run_patch "$work/first.err" || status=$?
show_run "first run" 0 "$work/first.err" "$status"
echo
echo "== add-in folder AFTER"
orv_e2e_listing "$host"

mark=$(orv_e2e_box_count "$work/boxes.log")
status=0
orv_e2e_run_patch "$work/second.err" || status=$?
show_run "second run" "$mark" "$work/second.err" "$status"

orv_e2e_wait "$watcher" 60 || true
