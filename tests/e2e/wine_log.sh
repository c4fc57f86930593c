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
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

top=$(mktemp -d "$ORV_WINE_PREFIX/drive_c/orvlogä-XXXXXX") || exit 2
orv_e2e_suite_cleanup() { rm -rf "$top"; }

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

launcher_sum() { sha256sum <"$host/Quenbrite.exe"; }
note_launcher() { launcher=$(launcher_sum); }
# A refused log: the launcher as it was, and no log anywhere in the host's
# top folder.
no_log() {
  [ "$(launcher_sum)" = "$launcher" ] || problems+="the launcher changed; "
  local made
  made=$(find "$top" -iname 'run.log' -printf '%P ')
  [ -z "$made" ] || problems+="a log was made: $made; "
}
trailing_backslash() {
  set_path "$c_host\\" || { problems+="the App Paths value could not be set with its backslash; "; return 1; }
  note_launcher
}
log_whole() { grep -q "exit code 0" "$top/run.log" 2>/dev/null || problems+="the log lacks its last line; "; }

lies="~a log cannot lie in"
orv_e2e_watch 9
#            label                                                         exit box     disk      set-up             check    args
orv_e2e_case "(plain) a log in the add-in folder, as typed, the string form" 103 "$lies" unchanged note_launcher     no_log   /log "$c_host\\Pellmark\\run.log"
orv_e2e_case "(verbatim) a log in the add-in folder, the \\\\?\\ form"     103 "$lies" unchanged note_launcher     no_log   /log "\\\\?\\$c_host\\Pellmark\\run.log"
orv_e2e_case "(device) a log in the add-in folder, the \\\\.\\ form, in a culture folder" \
                                                                           103 "$lies" unchanged note_launcher     no_log   /log "\\\\.\\$c_host\\Pellmark\\de\\run.log"
orv_e2e_case "(short) a log in the add-in folder, the short name ${short[0]}" 103 "$lies" unchanged note_launcher   no_log   /log "${short[0]}\\run.log"
orv_e2e_case "(short-launcher) a log in the add-in folder, on the launcher by its short name ${short[1]}" \
                                                                           103 "$lies" unchanged note_launcher     no_log   /log "${short[1]}"
orv_e2e_case "(alias) a log in the add-in folder, the Z: alias of the C: folder" 103 "$lies" unchanged note_launcher no_log /log "$z_host\\Pellmark\\run.log"
orv_e2e_case "(case) a log in the add-in folder, another letter case, outside ASCII too" \
                                                                           103 "$lies" unchanged note_launcher     no_log   /log "$upper"
orv_e2e_case "(trailing) a log in the add-in folder, the App Paths value ending in a backslash" \
                                                                           103 "$lies" unchanged trailing_backslash no_log  /log "$c_host\\Pellmark\\run.log"
orv_e2e_case "(written) a log in the folder above the host's"              0   "~$ORV_E2E_TEXT_SUCCEEDED" patched - log_whole /log "$c_top\\run.log"
orv_e2e_boxes_case 9

orv_e2e_summary "wine log"
