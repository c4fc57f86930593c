#!/usr/bin/env bash
# The switches of the real WinOrvantoPatch1.exe under Wine: /quiet for every
# outcome (no box, the right exit code, the disk as without the switch), a
# log of a failure and of a success (during which the helper reads the
# staging folder's access list), a refused command line, a log that cannot
# be created, another process holding only the guard's global name, a
# link at the staging name, a library held by a scanner, and an App Paths
# value written as a search list.
#
#   wine_switches.sh [PATCH.exe [win32_helper.exe]]
#
# Every case is one quiet launch, so no box watcher is needed: the relay
# trace shows that no message box was even called. Thirteen Windows launches
# in all (registry, three helpers, nine patch runs).
#
# Prints one line per case and "wine switches: N passed, M failed"; exits 1
# on any failure, 2 when it cannot run at all.
set -uo pipefail
ORV_REPO=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -ge 1 ] && ORV_E2E_EXE=$1
helper=${2:-$ORV_REPO/build/win32/tests/win32/win32_helper.exe}
# shellcheck source=tests/e2e/lib.sh
. "$ORV_REPO/tests/e2e/lib.sh"
orv_e2e_init || exit 2

work=$(orv_e2e_workdir) || exit 2
host="$work/Program Files/Orvanto"
holder=
cleanup() {
  exec 9>&- 2>/dev/null
  # The link case's link, should the suite stop inside it.
  [ -L "$ORV_E2E_TEMP/PellmarkOV" ] && rm -f "$ORV_E2E_TEMP/PellmarkOV"
  orv_e2e_finish "$work" ${holder:+"$holder"} "${ORV_E2E_JOB:-}"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
orv_e2e_set_registry "$host" || { echo "wine reg import failed" >&2; exit 2; }

# quiet NAME EXPECTED-STATUS ARGS...: one quiet run; sets status and
# problems, with a problem when a box was called or the status differs.
quiet() {
  local name=$1 expected=$2
  shift 2
  orv_e2e_log "case $name"
  status=0
  orv_e2e_start "$work/$name.err" "$ORV_E2E_EXE" "$@"
  orv_e2e_wait "$ORV_E2E_JOB" "$ORV_E2E_LAUNCH_SECONDS" || status=$?
  problems=
  [ "$status" = "$expected" ] || problems+="exit $status, expected $expected; "
  orv_e2e_box_flags "$work/$name.err"
  [ "$ORV_E2E_CALLS" = 0 ] || problems+="$ORV_E2E_CALLS MessageBox calls; "
}
unchanged() { [ "$(orv_e2e_snapshot "$host")" = "$1" ] || problems+="the installation changed; "; }
logged() { grep -q -- "$2" "$1" 2>/dev/null || problems+="the log lacks '$2'; "; }
report() { orv_e2e_report "$1" "$problems" "$2"; }

log_win() { orv_e2e_winpath "$work/$1"; }

# (f) A failure, logged: a folder of someone else's holds the backup's name.
mkdir -p "$host/Pellmark_BAK" && echo "not ours" >"$host/Pellmark_BAK/keep.txt"
orv_e2e_give "$host/Pellmark_BAK"
before=$(orv_e2e_snapshot "$host")
quiet failed-log 67 /quiet /log "$(log_win failed.log)"
unchanged "$before"
logged "$work/failed.log" "Pellmark_BAK is there already and is not this run's; the add-in is as it was"
grep -q "ShellRename\|ShellCopy" "$work/failed.log" && problems+="a copy or rename was made beside a taken backup name; "
logged "$work/failed.log" "outcome: Failed"
logged "$work/failed.log" "exit code 1603"
report "(f) failure, quiet and logged" "exit 67 (1603), no box, nothing changed; the log names the taken backup name, and nothing was copied or renamed"
rm -rf "$host/Pellmark_BAK"

# (s) Success, logged, with the switches in another case and form, after a
# run that was cut short between its two renames: no Pellmark folder, the
# old add-in under Pellmark_BAK, a half-made copy that its journal names.
mv "$host/Pellmark" "$host/Pellmark_BAK"
mkdir -p "$host/Pellmark_CPY/zh-CHS" && echo "half" >"$host/Pellmark_CPY/zh-CHS/part.dll"
printf 'WinOrvantoPatch1 journal 1\ncopy\t%s\nbackup\t%s\nend\n' \
  "$(orv_e2e_winpath "$host/Pellmark_CPY")" "$(orv_e2e_winpath "$host/Pellmark_BAK")" \
  >"$host/Pellmark_JOURNAL"
orv_e2e_give "$host"
# The helper reads the staging folder's access list while the run has it.
ORV_WINEDEBUG=-all bash "$ORV_REPO/scripts/wine-run.sh" "$helper" staging-security \
  </dev/null >"$work/staging.out" 2>"$work/staging.err" &
watcher=$!
orv_e2e_wait_for "$work/staging.out" '^watching' "$ORV_E2E_LAUNCH_SECONDS" "$watcher"
quiet success-log 0 -LOG "$(log_win success.log)" /QN
orv_e2e_wait "$watcher" 60 >/dev/null || problems+="the staging folder was never seen; "
staging_acl=$(tr -d '\r' <"$work/staging.out")
orv_e2e_log "staging folder: $(echo "$staging_acl" | tr '\n' ' ')"
# Wine keeps no descriptor on a file of its own and answers one made from the
# Unix mode: not the protection nor the Administrators' entry (win32_tests
# read those from the descriptor the program builds), but whether any other
# account may come in, and the run's own account's full control.
! grep -qE ' S-1-1-0 | S-1-5-32-545 | S-1-5-11 | S-1-5-4 ' <<<"$staging_acl" ||
  problems+="the staging folder lets other accounts in; "
user_sid=$(sed -n 's/^user //p' <<<"$staging_acl")
grep -qx "allow ${user_sid:-none} 0x1f01ff 0x3" <<<"$staging_acl" ||
  problems+="no full control for the run's account; "
logged "$work/success.log" "temporary folder from GetTempPath2\?W: "
check_patched() { orv_e2e_check_patched "$host"; }
check_patched
orv_e2e_check_no_staging "$host"
for left in Pellmark_BAK Pellmark_CPY Pellmark_JOURNAL; do
  [ ! -e "$host/$left" ] || problems+="$left was left; "
done
logged "$work/success.log" "an earlier run was cut short between its two renames"
logged "$work/success.log" "the old add-in folder is back in place"
logged "$work/success.log" "removing the earlier run's copy folder .*Pellmark_CPY"
logged "$work/success.log" "^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9:]\{8\}\.[0-9]\{3\} WinOrvantoPatch1.exe 1.0.0.1, command line: -LOG "
logged "$work/success.log" "quiet: no message box"
logged "$work/success.log" "the host matches"
logged "$work/success.log" "the patch is needed"
logged "$work/success.log" "ShellCopy .*, attempt 1: done"
logged "$work/success.log" "the new add-in folder is in place"
logged "$work/success.log" "outcome: Succeeded"
logged "$work/success.log" "exit code 0"
report "(s) success after a crash, quiet and logged" "exit 0, no box, the add-in moved back from Pellmark_BAK, the crashed run's copy removed, patched as without the switches; a time-stamped log of what was found and done, naming the temporary-folder function; no other account on the staging folder's access list"

# (q) The other outcomes, quiet.
before=$(orv_e2e_snapshot "$host")
quiet not-needed 0 /quiet
unchanged "$before"
report "(q) not needed, quiet" "exit 0, no box, nothing changed"

orv_e2e_launcher "$host" 4.1.52.0
quiet too-old 106 /qn
unchanged "$before"
report "(q) host too old, quiet" "exit 106 (1642), no box, nothing changed"

# (c) A refused command line and a log that cannot be made touch nothing.
orv_e2e_launcher "$host" 4.1.52.1
quiet bad-switch 103 /quiet /passive
unchanged "$before"
report "(c) unknown switch" "exit 103 (1639), no box, nothing changed"

quiet bad-log 86 /quiet /log "$(log_win 'no such folder\run.log')"
unchanged "$before"
report "(c) log that cannot be created" "exit 86 (1622), no box, nothing changed"

# (g) Another process holds only Global\WinOrvantoPatch1_Main: a run in
# another session would, and this one must not patch alongside it.
orv_e2e_log "case (g): a helper holds the global name"
# The helper holds the name until its standard input ends: a FIFO whose
# writing end this script keeps open on descriptor 9 (which no Wine process
# inherits: the Wine calls close it).
mkfifo "$work/hold.in"
exec 9<>"$work/hold.in"
ORV_WINEDEBUG=-all bash "$ORV_REPO/scripts/wine-run.sh" "$helper" hold-guard 'Global\WinOrvantoPatch1_Main' \
  <"$work/hold.in" >"$work/hold.out" 2>"$work/hold.err" 9>&- &
holder=$!
orv_e2e_wait_for "$work/hold.out" '^held' "$ORV_E2E_LAUNCH_SECONDS" "$holder"
problems=
grep -q '^held' "$work/hold.out" || problems+="the helper did not hold the name ($(cat "$work/hold.out")); "
orv_e2e_launcher "$host" 4.1.52.1
quiet global-held 82 /quiet
unchanged "$before"
report "(g) global name held elsewhere" "exit 82 (1618), no box, nothing changed"
exec 9>&-
orv_e2e_wait "$holder" 60 >/dev/null || true
holder=

# (h) A scanner holds a library of the add-in with no sharing at all for
# three seconds while the run copies it into the new folder: CopyFileW fails
# with a sharing violation (32) until it lets go, and the back-off outlasts
# it where twenty attempts one after the other would not.
rm -rf "$host/Pellmark"
orv_e2e_make_install "$host" || problems+="cannot make the installation; "
orv_e2e_log "case (h): a helper holds Tarnivo.dll with no sharing"
ORV_WINEDEBUG=-all bash "$ORV_REPO/scripts/wine-run.sh" "$helper" hold-file-alone \
  "$(orv_e2e_winpath "$host/Pellmark/Tarnivo.dll")" 3000 \
  </dev/null >"$work/scan.out" 2>"$work/scan.err" &
holder=$!
orv_e2e_wait_for "$work/scan.out" '^held' "$ORV_E2E_LAUNCH_SECONDS" "$holder"
quiet scanner 0 /quiet /log "$(log_win scanner.log)"
orv_e2e_wait "$holder" 60 >/dev/null || true
holder=
grep -q '^held' "$work/scan.out" || problems+="the helper did not hold the file ($(cat "$work/scan.out")); "
logged "$work/scanner.log" "CopySingleFile .*Tarnivo.dll.*attempt 1: failed: Windows error 32"
logged "$work/scanner.log" "waiting [0-9]* ms before attempt 2 of CopySingleFile"
logged "$work/scanner.log" "outcome: Succeeded"
report "(h) a library held by a scanner" "exit 0, no box, patched: the copy failed with 32, waited and went through once the hold ended"

# (l) A stale staging name that is a link to a folder full of files, on a
# fresh installation at the same path: the run stages under a fresh name
# and patches, the link and its target as they were. Wine shows a Unix symbolic link to the program as a
# reparse point, as Windows shows a link or a junction.
rm -rf "$host/Pellmark"
orv_e2e_make_install "$host" || problems+="cannot make the installation; "
outside="$work/outside"
mkdir -p "$outside" && echo "someone else's" >"$outside/keep.txt"
orv_e2e_give "$outside"
outside_before=$(orv_e2e_snapshot "$outside")
ln -s "$outside" "$ORV_E2E_TEMP/PellmarkOV"
before=$(orv_e2e_snapshot "$host")
quiet staging-link 0 /quiet /log "$(log_win staging-link.log)"
[ "$(orv_e2e_snapshot "$outside")" = "$outside_before" ] || problems+="the link's target changed; "
[ -L "$ORV_E2E_TEMP/PellmarkOV" ] || problems+="the link was removed; "
logged "$work/staging-link.log" "is a link, another account's, or cannot be examined; it is left as it is"
logged "$work/staging-link.log" "staging folder: .*PellmarkOV0000"
logged "$work/staging-link.log" "outcome: Succeeded"
[ -e "$ORV_E2E_TEMP/PellmarkOV0000" ] && problems+="the fresh staging folder was left; "
# The program's delete of a work folder that is a link (the backup of an
# add-in folder that was one) never goes through it: Windows removes the
# link itself; Wine 8 cannot remove a Unix link to a folder (its
# RemoveDirectoryW looks through it: ERROR_DIR_NOT_EMPTY, 145), so there the
# delete fails with the link left. Either way the target keeps its files.
link_win=$(orv_e2e_winpath "$ORV_E2E_TEMP/PellmarkOV")
ORV_WINEDEBUG=-all bash "$ORV_REPO/scripts/wine-run.sh" "$helper" delete "$link_win" \
  </dev/null >"$work/delete.out" 2>&1
deleted=$(tr -d '\r' <"$work/delete.out")
orv_e2e_log "the program's delete of the link: $deleted"
case "$deleted" in
  deleted) [ ! -L "$ORV_E2E_TEMP/PellmarkOV" ] || problems+="the link is there after its delete; " ;;
  "failed 145") [ -L "$ORV_E2E_TEMP/PellmarkOV" ] || problems+="a failed delete removed the link; " ;;
  *) problems+="the delete of the link: $deleted; " ;;
esac
[ "$(orv_e2e_snapshot "$outside")" = "$outside_before" ] || problems+="the delete changed the link's target; "
rm -f "$ORV_E2E_TEMP/PellmarkOV"
report "(l) staging name a link" "exit 0, no box, patched under a fresh staging name, the link and its target as they were; the program's delete of the link leaves its target"

# (p) The App Paths value written as a search list, the folder followed by
# a semicolon: it names that folder, and the run patches (exit 0 either way,
# so the log's outcome tells a patch from "no need").
rm -rf "$host/Pellmark"
orv_e2e_make_install "$host" || problems+="cannot make the installation; "
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Quenbrite.exe'
listed="$(orv_e2e_winpath "$host");"
orv_wine_env wine reg add "$key" /v Path /t REG_SZ /d "$listed" /f </dev/null >/dev/null 2>&1
quiet search-list 0 /quiet /log "$(log_win search-list.log)"
logged "$work/search-list.log" "as a search list it names"
logged "$work/search-list.log" "outcome: Succeeded"
report "(p) App Paths value as a search list" "exit 0, no box, patched: the folder before the semicolon is the host's"

orv_e2e_summary "wine switches"
