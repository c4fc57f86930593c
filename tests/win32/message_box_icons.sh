#!/bin/sh
# ShowMessage calls MessageBoxW with no owner and MB_OK plus the icon asked
# for. A box watcher cannot see the icon; Wine's relay trace of the call can
# (the prefix limits the trace to the message box functions).
#
#   message_box_icons.sh WINE_RUN BOX_WATCHER WIN32_HELPER
set -eu
run=$1
watcher=$2
helper=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "message_box_icons: $*" >&2
  for f in "$work"/*; do
    [ -f "$f" ] && { echo "--- ${f##*/}" >&2; tail -n 20 "$f" >&2; }
  done
  exit 1
}

check() {
  icon=$1
  flags=$2
  "$run" "$watcher" --log - --expect 1 --timeout 60 --process win32_helper.exe >"$work/boxes" 2>"$work/watcher.err" &
  watcher_pid=$!
  tries=0
  until grep -qx ready "$work/boxes" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 600 ] || fail "the watcher never got ready"
    sleep 0.1
  done
  ORV_WINEDEBUG=-all,+relay "$run" "$helper" show "Patch for Orvanto" "Some text" "$icon" \
    >/dev/null 2>"$work/trace" || fail "ShowMessage did not return normally ($icon)"
  wait "$watcher_pid" || fail "the watcher did not see exactly one box ($icon)"
  [ "$(cat "$work/boxes")" = "$(printf 'ready\nPatch for Orvanto\tSome text')" ] ||
    fail "unexpected box ($icon)"
  grep -Eq "Call user32\.MessageBoxW\(00000000,[0-9a-f]{8} L\"Some text\",[0-9a-f]{8} L\"Patch for Orvanto\",$flags\)" \
    "$work/trace" || fail "MessageBoxW was not called with $flags ($icon)"
  grep -Eq 'Ret  user32\.MessageBoxW\(\) retval=00000001' "$work/trace" ||
    fail "MessageBoxW did not return IDOK ($icon)"
  echo "$icon: MessageBoxW(no owner, MB_OK | $flags), answered with OK"
}

check information 00000040
check warning 00000030
