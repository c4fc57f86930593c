#!/usr/bin/env bash
# Where the real WinOrvantoPatch1.exe under Wine lets a /log file lie. The
# host is installed in the prefix's drive C:, so that its folder has two
# drive letters (C: and Z:, Wine's name for the Linux root), a top folder
# whose name holds a letter outside ASCII and is too long for 8.3 (Wine makes
# a short name for it), and an App Paths value in the C: form. A log in the
# add-in folder is refused (1639, low byte 103) whatever form its path takes:
# as typed, "\\?\" and "\\.\" forms, the short name (also of the launcher),
# the Z: alias, letters in another case, and with the App Paths value ending
# in a backslash. Before the log's place was decided by what the file system
# resolves, each of those but the first went through, and a log named on the
# launcher emptied it. A log in the folder above the host's is written.
#
#   wine_log.sh [PATCH.exe [box_watcher.exe]]
#
# Every run shows its box, whose text tells a refused log from one whose
# place could not be told. Fourteen Windows processes: the registry import,
# two `reg add`s and their read-backs, the short-name look-up, the box
# watcher and nine patch runs.
#
# Prints one line per case and "wine log: N passed, M failed"; exits 1 on
# any failure, 2 when it cannot run at all.
set -uo pipefail
ORV_REPO=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] && ORV_E2E_EXE=$1
[ $# -ge 2 ] && ORV_E2E_WATCHER=$2
# shellcheck source=tests/e2e/lib.sh
. "$ORV_REPO/tests/e2e/lib.sh"
orv_e2e_init || exit 2

work=$(orv_e2e_workdir) || exit 2
top=$(mktemp -d "$ORV_WINE_PREFIX/drive_c/orvlogä-XXXXXX") || exit 2
cleanup() {
  orv_e2e_finish "$work" "${ORV_E2E_WATCHER_JOB:-}" "${ORV_E2E_JOB:-}"
  rm -rf "$top"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

host=$top/Orvanto
orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
orv_e2e_give "$top"
c_top="C:\\$(basename "$top")"
c_host="$c_top\\Orvanto"
z_host=$(orv_e2e_winpath "$host")
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Quenbrite.exe'

# set_path VALUE: the App Paths value, as REG_SZ, read back to be sure that
# it holds exactly VALUE (a trailing backslash included). reg writes to a
# pipe in the OEM code page.
set_path() {
  orv_wine_env wine reg add "$key" /v Path /t REG_SZ /d "$1" /f </dev/null >/dev/null 2>&1 &&
    orv_wine_env wine reg query "$key" /v Path </dev/null 2>/dev/null |
    iconv -f CP437 -t UTF-8 | tr -d '\r' | grep -qxF -- "    Path    REG_SZ    $1"
}

# The import boots the session and sets the relay trace; then the C: form.
orv_e2e_set_registry "$host" || { echo "wine reg import failed" >&2; exit 2; }
set_path "$c_host" || { echo "the App Paths value could not be set to $c_host" >&2; exit 2; }

# The short forms of the add-in folder and the launcher, as Wine makes them
# (Wine shortens the top folder's name; the launcher's it leaves long).
mapfile -t short < <(orv_wine_env wine cmd /c \
  "for %I in ($c_host\\Pellmark $c_host\\Quenbrite.exe) do @echo %~sI" </dev/null 2>/dev/null |
  tr -d '\r')
orv_e2e_log "short names: ${short[*]}"
if [ "${#short[@]}" != 2 ] || [ "${short[0]}" = "$c_host\\Pellmark" ] ||
  [[ "${short[0]}" != C:\\*\\Orvanto\\Pellmark ]]; then
  echo "no short name from Wine for $c_host\\Pellmark: '${short[*]}'" >&2
  exit 2
fi
# The C: form in capitals, the letter outside ASCII too.
upper=$(python3 -c 'import sys; print(sys.argv[1].upper())' "$c_host\\Pellmark\\run.log")

watcher_ok=1
orv_e2e_start_watcher "$work/boxes.log" 9 2400 || watcher_ok=0
[ "$watcher_ok" = 1 ] || { echo "the box watcher did not start" >&2; exit 2; }

launcher_sum() { sha256sum <"$host/Quenbrite.exe"; }

# run_log NAME EXIT SAYS LOG: one run with /log LOG; the exit code, its one
# box holding SAYS; refused, nothing changed and no log anywhere in the
# host's top folder; written, the log whole and the add-in patched. Sets
# $problems.
run_log() {
  local name=$1 want=$2 says=$3 log=$4 before launcher mark status=0 boxes
  orv_e2e_log "case $name: /log $log"
  before=$(orv_e2e_snapshot "$host")
  launcher=$(launcher_sum)
  mark=$(orv_e2e_box_count "$work/boxes.log")
  orv_e2e_start "$work/$name.err" "$ORV_E2E_EXE" /log "$log"
  orv_e2e_wait "$ORV_E2E_JOB" "$ORV_E2E_LAUNCH_SECONDS" "$ORV_E2E_WATCHER_JOB" || status=$?
  problems=
  [ "$status" = "$want" ] || problems+="exit $status, expected $want; "
  boxes=$(orv_e2e_boxes_since "$work/boxes.log" "$mark")
  [ "$(grep -c . <<<"$boxes")" = 1 ] && grep -qF -- "$says" <<<"$boxes" ||
    problems+="boxes '${boxes:-none}', expected one saying '$says'; "
  if [ "$want" = 0 ]; then
    orv_e2e_check_patched "$host"
  else
    [ "$(orv_e2e_snapshot "$host")" = "$before" ] || problems+="the installation changed; "
    [ "$(launcher_sum)" = "$launcher" ] || problems+="the launcher changed; "
    local made
    made=$(find "$top" -iname 'run.log' -printf '%P ')
    [ -z "$made" ] || problems+="a log was made: $made; "
  fi
  orv_e2e_check_no_staging "$host"
}

lies='a log cannot lie in'
forms=(
  "plain|$c_host\\Pellmark\\run.log|as typed, the string form"
  "verbatim|\\\\?\\$c_host\\Pellmark\\run.log|the \\\\?\\ form"
  "device|\\\\.\\$c_host\\Pellmark\\de\\run.log|the \\\\.\\ form, in a culture folder"
  "short|${short[0]}\\run.log|the short name ${short[0]}"
  "short-launcher|${short[1]}|on the launcher by its short name ${short[1]}"
  "alias|$z_host\\Pellmark\\run.log|the Z: alias of the C: folder"
  "case|$upper|another letter case, outside ASCII too"
)
for form in "${forms[@]}"; do
  IFS='|' read -r name log what <<<"$form"
  run_log "$name" 103 "$lies" "$log"
  orv_e2e_report "($name) a log in the add-in folder, $what" "$problems" \
    "refused: exit 103 (1639), the box says why, nothing changed, no log made"
done

problems=
if set_path "$c_host\\"; then
  run_log trailing 103 "$lies" "$c_host\\Pellmark\\run.log"
else
  problems+="the App Paths value could not be set with its backslash; "
fi
orv_e2e_report "(trailing) a log in the add-in folder, the App Paths value ending in a backslash" \
  "$problems" "refused: exit 103 (1639), the box says why, nothing changed, no log made"

run_log written 0 "$ORV_E2E_TEXT_SUCCEEDED" "$c_top\\run.log"
grep -q "exit code 0" "$top/run.log" 2>/dev/null || problems+="the log lacks its last line; "
orv_e2e_report "(written) a log in the folder above the host's" "$problems" \
  "patched: exit 0, 'Install Succeeded.', the log written to its end"

watcher_status=0
orv_e2e_wait "$ORV_E2E_WATCHER_JOB" 60 || watcher_status=$?
if [ "$watcher_status" = 0 ]; then
  orv_e2e_report "(boxes) one box per run" "" "the watcher saw exactly 9 boxes"
else
  orv_e2e_report "(boxes) one box per run" "watcher exit $watcher_status; log: $(tr '\n' '|' <"$work/boxes.log")" ""
fi

orv_e2e_summary "wine log"
