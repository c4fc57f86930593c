#!/usr/bin/env bash
# The real WinOrvantoPatch1.exe under Wine against installations that are
# awkward in ways only the Windows build can show: host folders whose paths
# are at and just past the length the program accepts, a host folder whose
# name holds spaces and characters outside ASCII, read-only files in the
# add-in folder, and an App Paths value of type REG_EXPAND_SZ.
#
#   wine_hostile.sh [PATCH.exe [box_watcher.exe]]
#
# Ten Windows processes: four registry imports (one per host path), a
# `reg add` of the expandable value, the box watcher and five patch runs. The launcher without a version resource is
# case (d) of wine_e2e.sh.
#
# Prints one line per case and "wine hostile: N passed, M failed"; exits 1 on
# any failure, 2 when it cannot run at all.
set -uo pipefail
ORV_REPO=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] && ORV_E2E_EXE=$1
[ $# -ge 2 ] && ORV_E2E_WATCHER=$2
# shellcheck source=tests/e2e/lib.sh
. "$ORV_REPO/tests/e2e/lib.sh"
orv_e2e_init || exit 2

work=$(orv_e2e_workdir) || exit 2
cleanup() { orv_e2e_finish "$work" "${ORV_E2E_WATCHER_JOB:-}" "${ORV_E2E_JOB:-}"; }
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

# The longest payload path below the add-in folder, in characters.
longest=0
for path in "${ORV_PAYLOAD_PATHS[@]}"; do
  [ "${#path}" -gt "$longest" ] && longest=${#path}
done
# Every file of the new folder, "<add-in>_CPY\<relative path>", must fit a
# 260-character buffer with its NUL.
LONGEST_ADDIN=$((259 - longest - 1 - 4))

# Prints a host folder BASE/.../Orvanto whose add-in folder's path, as
# Wine's programs see it (Z:\...), is exactly LENGTH characters long.
long_host() {
  local base=$1 length=$2 host need part tail='\Orvanto\Pellmark'
  host=$base
  need=$((length - ${#tail} - $(orv_e2e_winpath "$base" | wc -c)))
  while [ "$need" -gt 0 ]; do
    part=$((need - 1 > 100 ? 100 : need - 1))
    [ $((need - 1 - part)) = 1 ] && part=$((part - 1))
    host+=/$(printf '%*s' "$part" '' | tr ' ' o)
    need=$((need - part - 1))
  done
  printf '%s/Orvanto\n' "$host"
}

# One patch run against HOST, whose App Paths entry is set; checks the box,
# the exit code and, for success, the patched folder, else that nothing
# changed. Sets $problems.
run_case() { # NAME HOST TEXT FLAGS EXIT
  local name=$1 host=$2 text=$3 flags=$4 want=$5 before mark status=0
  orv_e2e_log "case $name"
  before=$(orv_e2e_snapshot "$host")
  mark=$(orv_e2e_box_count "$work/boxes.log")
  orv_e2e_run_patch "$work/$name.err" || status=$?
  problems=
  [ "$status" = "$want" ] || problems+="exit $status, expected $want; "
  orv_e2e_check_box "$work/boxes.log" "$mark" "$text" "$flags" "$work/$name.err"
  if [ "$want" = 0 ]; then
    orv_e2e_check_patched "$host"
  else
    [ "$(orv_e2e_snapshot "$host")" = "$before" ] || problems+="the installation changed; "
  fi
  orv_e2e_check_no_staging "$host"
}

watcher_ok=1
orv_e2e_start_watcher "$work/boxes.log" 5 2400 || watcher_ok=0
[ "$watcher_ok" = 1 ] || { echo "the box watcher did not start" >&2; exit 2; }

# (long) The longest add-in folder path the program patches, then one
# character more: refused before anything is touched. Before the program
# checked this, Wine's shell skipped the files whose paths passed 259
# characters, reported the copy done, and an incomplete folder was swapped in
# under "Install Succeeded.".
for length in "$LONGEST_ADDIN" $((LONGEST_ADDIN + 1)); do
  host=$(long_host "$work/long$length" "$length")
  orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
  addin=$(orv_e2e_winpath "$host/Pellmark")
  problems=
  if ! orv_e2e_set_registry "$host"; then
    problems+="wine reg import failed; "
  elif [ "$length" = "$LONGEST_ADDIN" ]; then
    run_case "long$length" "$host" "$ORV_E2E_TEXT_SUCCEEDED" 00000040 0
  else
    run_case "long$length" "$host" "$ORV_E2E_TEXT_FAILED" 00000030 67
  fi
  [ "${#addin}" = "$length" ] || problems+="add-in path ${#addin} characters, meant $length; "
  if [ "$length" = "$LONGEST_ADDIN" ]; then
    orv_e2e_report "(long) add-in path of $length characters" "$problems" \
      "patched: exit 0, 'Install Succeeded.', all 25 files in place, libraries kept, nothing left over"
  else
    orv_e2e_report "(long) add-in path of $length characters" "$problems" \
      "refused: exit 67 (1603), 'Install Failed.', installation unchanged, no staging left"
  fi
done

# (unicode) Spaces and characters outside ASCII, one of them outside the
# Basic Multilingual Plane (a surrogate pair in UTF-16).
host="$work/unicode/Program Files/Orvanto Ünïcødé 日本語 𝄞"
orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
problems=
if orv_e2e_set_registry "$host"; then
  run_case unicode "$host" "$ORV_E2E_TEXT_SUCCEEDED" 00000040 0
else
  problems+="wine reg import failed; "
fi
orv_e2e_report "(unicode) host folder with spaces and non-ASCII names" "$problems" \
  "patched: exit 0, 'Install Succeeded.', all 25 files in place, libraries kept, nothing left over"

# (read-only) Read-only files in the add-in folder: a kept library, payload
# files at the top and in a culture folder. The old folder is moved aside
# whole and deleted; the kept library is copied with its bytes.
rm -rf "$host/Pellmark"
orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
readonly_files=(Tarnivo.dll Pellmark.exe de/Pellmark35.resources.dll)
for f in "${readonly_files[@]}"; do chmod a-w "$host/Pellmark/$f"; done
run_case read-only "$host" "$ORV_E2E_TEXT_SUCCEEDED" 00000040 0
orv_e2e_report "(read-only) read-only files in the add-in folder" "$problems" \
  "patched: exit 0, 'Install Succeeded.', the read-only library kept, the old folder deleted"

# (expandable) The App Paths value as REG_EXPAND_SZ,
# "%ProgramFiles%\OrvantoExpand\Orvanto": as read it names no folder, and
# before the program expanded it the run said "There is no need to apply
# this patch." on a machine with the host.
host="$ORV_WINE_PREFIX/drive_c/Program Files/OrvantoExpand/Orvanto"
rm -rf "$(dirname "$host")"
orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
problems=
if orv_e2e_set_registry "$host" && orv_wine_env wine reg add \
  'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Quenbrite.exe' \
  /v Path /t REG_EXPAND_SZ /d '%ProgramFiles%\OrvantoExpand\Orvanto' /f \
  </dev/null >/dev/null 2>&1; then
  run_case expandable "$host" "$ORV_E2E_TEXT_SUCCEEDED" 00000040 0
else
  problems+="the registry could not be set; "
fi
rm -rf "$(dirname "$host")"
orv_e2e_report "(expandable) App Paths value of type REG_EXPAND_SZ" "$problems" \
  "patched: exit 0, 'Install Succeeded.', all 25 files in place, libraries kept, nothing left over"

watcher_status=0
orv_e2e_wait "$ORV_E2E_WATCHER_JOB" 60 || watcher_status=$?
if [ "$watcher_status" = 0 ]; then
  orv_e2e_report "(boxes) one box per run" "" "the watcher saw exactly 5 boxes"
else
  orv_e2e_report "(boxes) one box per run" "watcher exit $watcher_status; log: $(tr '\n' '|' <"$work/boxes.log")" ""
fi

orv_e2e_summary "wine hostile"
