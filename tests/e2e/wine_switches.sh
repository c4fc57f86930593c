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
# One quiet run per case; only the crashed run's case looks for what is left.
ORV_E2E_SECOND=helper ORV_E2E_CHECK_STAGING=0
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"
helper=$ORV_E2E_HELPER
orv_e2e_suite_cleanup() {
  exec 9>&- 2>/dev/null
  # The link case's link, should the suite stop inside it.
  [ -L "$ORV_E2E_TEMP/$ORV_E2E_STAGING" ] && rm -f "$ORV_E2E_TEMP/$ORV_E2E_STAGING"
}

orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
orv_e2e_set_registry "$host" || { echo "wine reg import failed" >&2; exit 2; }

log_win() { orv_e2e_winpath "$work/$1"; }
logged() { orv_e2e_logged "$work/$1" "$2"; }
# HELPER-ARGS... in the background, its output to work/NAME.out; waits until
# it says PATTERN. Sets holder.
start_helper() {
  local name=$1 pattern=$2
  shift 2
  ORV_WINEDEBUG=-all bash "$ORV_REPO/scripts/wine-run.sh" "$helper" "$@" \
    </dev/null >"$work/$name.out" 2>"$work/$name.err" &
  holder=$!
  ORV_E2E_JOBS+=("$holder")
  orv_e2e_wait_for "$work/$name.out" "$pattern" "$ORV_E2E_LAUNCH_SECONDS" "$holder"
}
fresh_install() {
  rm -rf "$host/Pellmark"
  orv_e2e_make_install "$host"
}

# (f) A failure, logged: a folder of someone else's holds the backup's name.
taken_backup() {
  mkdir -p "$host/$ORV_E2E_BAK" && echo "not ours" >"$host/$ORV_E2E_BAK/keep.txt"
  orv_e2e_give "$host/$ORV_E2E_BAK"
}
failed_logged() {
  logged failed.log "$ORV_E2E_BAK is there already and is not this run's; the add-in is as it was"
  grep -q "ShellRename\|ShellCopy" "$work/failed.log" && problems+="a copy or rename was made beside a taken backup name; "
  logged failed.log "outcome: Failed"
  logged failed.log "exit code 1603"
  rm -rf "${host:?}/$ORV_E2E_BAK"
}

# (s) Success, logged, with the switches in another case and form, after a
# run that was cut short between its two renames: no add-in folder, the old
# add-in under the backup's name, a half-made copy that its journal names.
# The helper reads the staging folder's access list while the run has it.
crashed_run() {
  mv "$host/Pellmark" "$host/$ORV_E2E_BAK"
  mkdir -p "$host/$ORV_E2E_CPY/zh-CHS" && echo "half" >"$host/$ORV_E2E_CPY/zh-CHS/part.dll"
  printf 'WinOrvantoPatch1 journal 1\ncopy\t%s\nbackup\t%s\nend\n' \
    "$(orv_e2e_winpath "$host/$ORV_E2E_CPY")" "$(orv_e2e_winpath "$host/$ORV_E2E_BAK")" \
    >"$host/$ORV_E2E_JOURNAL"
  orv_e2e_give "$host"
  start_helper staging '^watching' staging-security
}
recovered_logged() {
  orv_e2e_wait "$holder" 60 >/dev/null || problems+="the staging folder was never seen; "
  local staging_acl user_sid left
  staging_acl=$(tr -d '\r' <"$work/staging.out")
  orv_e2e_log "staging folder: $(echo "$staging_acl" | tr '\n' ' ')"
  # Wine keeps no descriptor on a file of its own and answers one made from
  # the Unix mode: not the protection nor the Administrators' entry
  # (win32_tests read those from the descriptor the program builds), but
  # whether any other account may come in, and the run's own account's full
  # control.
  ! grep -qE ' S-1-1-0 | S-1-5-32-545 | S-1-5-11 | S-1-5-4 ' <<<"$staging_acl" ||
    problems+="the staging folder lets other accounts in; "
  user_sid=$(sed -n 's/^user //p' <<<"$staging_acl")
  grep -qx "allow ${user_sid:-none} 0x1f01ff 0x3" <<<"$staging_acl" ||
    problems+="no full control for the run's account; "
  logged success.log "temporary folder from GetTempPath2\?W: "
  orv_e2e_check_no_staging "$host"
  for left in "$ORV_E2E_BAK" "$ORV_E2E_CPY" "$ORV_E2E_JOURNAL"; do
    [ ! -e "$host/$left" ] || problems+="$left was left; "
  done
  logged success.log "an earlier run was cut short between its two renames"
  logged success.log "the old add-in folder is back in place"
  logged success.log "removing the earlier run's copy folder .*$ORV_E2E_CPY"
  logged success.log "^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9:]\{8\}\.[0-9]\{3\} WinOrvantoPatch1.exe 1.0.0.1, command line: -LOG "
  logged success.log "quiet: no message box"
  logged success.log "the host matches"
  logged success.log "the patch is needed"
  logged success.log "ShellCopy .*, attempt 1: done"
  logged success.log "the new add-in folder is in place"
  logged success.log "outcome: Succeeded"
  logged success.log "exit code 0"
}

# (q) The other outcomes, quiet; (c) a refused command line and a log that
# cannot be made touch nothing.
older_launcher() { orv_e2e_launcher "$host" 4.1.52.0; }
current_launcher() { orv_e2e_launcher "$host" 4.1.52.1; }

# (g) Another process holds only Global\WinOrvantoPatch1_Main: a run in
# another session would, and this one must not patch alongside it. The
# helper holds the name until its standard input ends: a FIFO whose writing
# end this script keeps open on descriptor 9 (which no Wine process
# inherits: the Wine calls close it).
global_held() {
  mkfifo "$work/hold.in"
  exec 9<>"$work/hold.in"
  ORV_WINEDEBUG=-all bash "$ORV_REPO/scripts/wine-run.sh" "$helper" hold-guard 'Global\WinOrvantoPatch1_Main' \
    <"$work/hold.in" >"$work/hold.out" 2>"$work/hold.err" 9>&- &
  holder=$!
  ORV_E2E_JOBS+=("$holder")
  orv_e2e_wait_for "$work/hold.out" '^held' "$ORV_E2E_LAUNCH_SECONDS" "$holder"
  grep -q '^held' "$work/hold.out" || problems+="the helper did not hold the name ($(cat "$work/hold.out")); "
  current_launcher
}
global_released() {
  exec 9>&-
  orv_e2e_wait "$holder" 60 >/dev/null || true
}

# (h) A scanner holds a library of the add-in with no sharing at all for
# three seconds while the run copies it into the new folder: CopyFileW fails
# with a sharing violation (32) until it lets go, and the back-off outlasts
# it where twenty attempts one after the other would not.
scanner_holds() {
  fresh_install || return 1
  start_helper scan '^held' hold-file-alone "$(orv_e2e_winpath "$host/Pellmark/Tarnivo.dll")" 3000
}
scanner_logged() {
  orv_e2e_wait "$holder" 60 >/dev/null || true
  grep -q '^held' "$work/scan.out" || problems+="the helper did not hold the file ($(cat "$work/scan.out")); "
  logged scanner.log "CopySingleFile .*Tarnivo.dll.*attempt 1: failed: Windows error 32"
  logged scanner.log "waiting [0-9]* ms before attempt 2 of CopySingleFile"
  logged scanner.log "outcome: Succeeded"
}

# (l) A stale staging name that is a link to a folder full of files, on a
# fresh installation at the same path: the run stages under a fresh name and
# patches, the link and its target as they were. Wine shows a Unix symbolic
# link to the program as a reparse point, as Windows shows a link or a
# junction.
outside="$work/outside"
link="$ORV_E2E_TEMP/$ORV_E2E_STAGING"
staging_link() {
  fresh_install || return 1
  mkdir -p "$outside" && echo "someone else's" >"$outside/keep.txt"
  orv_e2e_give "$outside"
  outside_before=$(orv_e2e_snapshot "$outside")
  ln -s "$outside" "$link"
}
link_kept() {
  [ "$(orv_e2e_snapshot "$outside")" = "$outside_before" ] || problems+="the link's target changed; "
  [ -L "$link" ] || problems+="the link was removed; "
  logged staging-link.log "is a link, another account's, or cannot be examined; it is left as it is"
  logged staging-link.log "staging folder: .*${ORV_E2E_STAGING}0000"
  logged staging-link.log "outcome: Succeeded"
  [ -e "$ORV_E2E_TEMP/${ORV_E2E_STAGING}0000" ] && problems+="the fresh staging folder was left; "
  # The program's delete of a work folder that is a link (the backup of an
  # add-in folder that was one) never goes through it: Windows removes the
  # link itself; Wine 8 cannot remove a Unix link to a folder (its
  # RemoveDirectoryW looks through it: ERROR_DIR_NOT_EMPTY, 145), so there
  # the delete fails with the link left. Either way the target keeps its
  # files.
  local deleted
  ORV_WINEDEBUG=-all bash "$ORV_REPO/scripts/wine-run.sh" "$helper" delete "$(orv_e2e_winpath "$link")" \
    </dev/null >"$work/delete.out" 2>&1
  deleted=$(tr -d '\r' <"$work/delete.out")
  orv_e2e_log "the program's delete of the link: $deleted"
  case "$deleted" in
    deleted) [ ! -L "$link" ] || problems+="the link is there after its delete; " ;;
    "failed 145") [ -L "$link" ] || problems+="a failed delete removed the link; " ;;
    *) problems+="the delete of the link: $deleted; " ;;
  esac
  [ "$(orv_e2e_snapshot "$outside")" = "$outside_before" ] || problems+="the delete changed the link's target; "
  rm -f "$link"
}

# (p) The App Paths value written as a search list, the folder followed by
# a semicolon: it names that folder, and the run patches (exit 0 either way,
# so the log's outcome tells a patch from "no need").
search_list() {
  fresh_install || return 1
  orv_wine_env wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Quenbrite.exe' \
    /v Path /t REG_SZ /d "$(orv_e2e_winpath "$host");" /f </dev/null >/dev/null 2>&1
}
search_list_logged() {
  logged search-list.log "as a search list it names"
  logged search-list.log "outcome: Succeeded"
}

#            label                                          exit box  disk      set-up           check              args
orv_e2e_case "(f) failure, quiet and logged"                67   none unchanged taken_backup     failed_logged      /quiet /log "$(log_win failed.log)"
orv_e2e_case "(s) success after a crash, quiet and logged"  0    none patched   crashed_run      recovered_logged   -LOG "$(log_win success.log)" /QN
orv_e2e_case "(q) not needed, quiet"                        0    none unchanged -                -                  /quiet
orv_e2e_case "(q) host too old, quiet"                      106  none unchanged older_launcher   -                  /qn
orv_e2e_case "(c) unknown switch"                           103  none unchanged current_launcher -                  /quiet /passive
orv_e2e_case "(c) log that cannot be created"               86   none unchanged -                -                  /quiet /log "$(log_win 'no such folder\run.log')"
orv_e2e_case "(g) global name held elsewhere"               82   none unchanged global_held      global_released    /quiet
orv_e2e_case "(h) a library held by a scanner"              0    none -         scanner_holds    scanner_logged     /quiet /log "$(log_win scanner.log)"
orv_e2e_case "(l) staging name a link"                      0    none -         staging_link     link_kept          /quiet /log "$(log_win staging-link.log)"
orv_e2e_case "(p) App Paths value as a search list"         0    none -         search_list      search_list_logged /quiet /log "$(log_win search-list.log)"

orv_e2e_summary "wine switches"
