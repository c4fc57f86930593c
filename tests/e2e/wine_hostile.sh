#!/usr/bin/env bash
# The real WinOrvantoPatch1.exe under Wine against installations that are
# awkward in ways only the Windows build can show: host folders whose paths
# are at and just past the length the program accepts, a host folder whose
# name holds spaces and characters outside ASCII, read-only files in the
# add-in folder, and an App Paths value of type REG_EXPAND_SZ.
#
#   wine_hostile.sh [PATCH.exe [box_watcher.exe]]
#
# Ten Windows processes: four registry imports (one per host path), a `reg
# add` of the expandable value, the box watcher and five patch runs. The
# launcher without a version resource is case (d) of wine_e2e.sh.
#
# Prints one line per case and "wine hostile: N passed, M failed"; exits 1 on
# any failure, 2 when it cannot run at all.
set -uo pipefail
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

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

# A fresh installation at HOST with its App Paths entry.
install_at() {
  host=$1
  orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
  orv_e2e_set_registry "$host" || { problems+="wine reg import failed; "; return 1; }
}

# (long) The longest add-in folder path the program patches, then one
# character more: refused before anything is touched. Before the program
# checked this, Wine's shell skipped the files whose paths passed 259
# characters, reported the copy done, and an incomplete folder was swapped in
# under "Install Succeeded.".
long_at() { install_at "$(long_host "$work/long$1" "$1")"; }
longest_path() { long_at "$LONGEST_ADDIN"; }
past_longest() { long_at $((LONGEST_ADDIN + 1)); }
path_length() { # the add-in folder's path as meant
  local addin
  addin=$(orv_e2e_winpath "$host/Pellmark")
  [ "${#addin}" = "$1" ] || problems+="add-in path ${#addin} characters, meant $1; "
}
length_longest() { path_length "$LONGEST_ADDIN"; }
length_past() { path_length $((LONGEST_ADDIN + 1)); }

# (unicode) Spaces and characters outside ASCII, one of them outside the
# Basic Multilingual Plane (a surrogate pair in UTF-16).
unicode_host() { install_at "$work/unicode/Program Files/Orvanto Ünïcødé 日本語 𝄞"; }

# (read-only) Read-only files in the add-in folder: a kept library, payload
# files at the top and in a culture folder. The old folder is moved aside
# whole and deleted; the kept library is copied with its bytes.
read_only_files() {
  rm -rf "$host/Pellmark"
  orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
  local f
  for f in Tarnivo.dll Pellmark.exe de/Pellmark35.resources.dll; do chmod a-w "$host/Pellmark/$f"; done
}

# (expandable) The App Paths value as REG_EXPAND_SZ,
# "%ProgramFiles%\OrvantoExpand\Orvanto": as read it names no folder, and
# before the program expanded it the run said "There is no need to apply
# this patch." on a machine with the host.
expandable_value() {
  local at="$ORV_WINE_PREFIX/drive_c/Program Files/OrvantoExpand/Orvanto"
  rm -rf "$(dirname "$at")"
  install_at "$at" && orv_wine_env wine reg add \
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Quenbrite.exe' \
    /v Path /t REG_EXPAND_SZ /d '%ProgramFiles%\OrvantoExpand\Orvanto' /f </dev/null >/dev/null 2>&1
}
orv_e2e_suite_cleanup() { rm -rf "$ORV_WINE_PREFIX/drive_c/Program Files/OrvantoExpand"; }

orv_e2e_watch 5
#            label                                                   exit box       disk      set-up            check
orv_e2e_case "(long) add-in path of $LONGEST_ADDIN characters"       0    succeeded patched   longest_path      length_longest
orv_e2e_case "(long) add-in path of $((LONGEST_ADDIN + 1)) characters" 67 failed    unchanged past_longest      length_past
orv_e2e_case "(unicode) host folder with spaces and non-ASCII names" 0    succeeded patched   unicode_host      -
orv_e2e_case "(read-only) read-only files in the add-in folder"      0    succeeded patched   read_only_files   -
orv_e2e_case "(expandable) App Paths value of type REG_EXPAND_SZ"    0    succeeded patched   expandable_value  -
orv_e2e_suite_cleanup
orv_e2e_boxes_case 5

orv_e2e_summary "wine hostile"
