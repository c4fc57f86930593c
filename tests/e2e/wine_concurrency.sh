#!/usr/bin/env bash
# Eight copies of the real WinOrvantoPatch1.exe started together under Wine
# against one installation: the named mutex lets exactly one of them run.
#
#   wine_concurrency.sh [PATCH.exe [box_watcher.exe]]
#
# Not a race: the copy that holds the mutex shows a modal box and keeps the
# mutex until the box is answered, and the box watcher is started only after
# the other seven have ended. Whatever order Wine starts them in, every copy
# but the one holding the mutex meets it. Ten Windows processes: the registry,
# the eight copies (in parallel) and the watcher.
#
# Prints one line per check and "wine concurrency: N passed, M failed"; exits
# 1 on any failure, 2 when it cannot run at all.
set -uo pipefail
# shellcheck source=tests/e2e/harness.sh
. "$(dirname "$0")/harness.sh"

COPIES=8
# The eight together may take this long to start and settle.
LIMIT=${ORV_E2E_CONCURRENCY_SECONDS:-300}

jobs=()
ended=()
status=()

orv_e2e_log "installation in $host"
orv_e2e_make_install "$host" || { echo "cannot make the installation" >&2; exit 2; }
orv_e2e_set_registry "$host" || { echo "wine reg import failed" >&2; exit 2; }

orv_e2e_log "starting $COPIES copies at once"
for i in $(seq 0 $((COPIES - 1))); do
  orv_e2e_start "$work/copy$i.err" "$ORV_E2E_EXE"
  jobs[i]=$ORV_E2E_JOB
  ORV_E2E_JOBS+=("$ORV_E2E_JOB")
  ended[i]=0
done

# Reaps the copies that have ended; prints how many still run.
reap() {
  local i running=0
  for i in "${!jobs[@]}"; do
    [ "${ended[i]}" = 1 ] && continue
    if kill -0 "${jobs[i]}" 2>/dev/null; then
      running=$((running + 1))
    else
      status[i]=0
      wait "${jobs[i]}" || status[i]=$?
      ended[i]=1
    fi
  done
  echo "$running"
}

# Copies still running that have called MessageBox: more than one means two
# of them got past the mutex, and their boxes would wait for ever.
boxes_up() {
  local i count=0
  for i in "${!jobs[@]}"; do
    [ "${ended[i]}" = 0 ] && grep -q 'Call user32\.MessageBox' "$work/copy$i.err" 2>/dev/null &&
      count=$((count + 1))
  done
  echo "$count"
}

deadline=$((SECONDS + LIMIT))
running=$COPIES
why=
while :; do
  reap >"$work/running"
  running=$(<"$work/running")
  [ "$running" -le 1 ] && break
  if [ "$SECONDS" -ge "$deadline" ]; then
    why="after ${LIMIT}s"
    break
  fi
  up=$(boxes_up)
  if [ "$up" -gt 1 ]; then
    why="$up of them showing a box at once"
    break
  fi
  sleep 0.2
done

winner=
for i in "${!jobs[@]}"; do
  [ "${ended[i]}" = 0 ] && winner=$i
done

# The seven that ended: each exit 1618, none called MessageBox.
problems=
[ "$running" = 1 ] || problems+="$running copies still running ($why), expected exactly one; "
losers=0
for i in "${!jobs[@]}"; do
  [ "$i" = "$winner" ] && continue
  [ "${ended[i]}" = 1 ] || continue
  losers=$((losers + 1))
  copy_problems=$problems problems=
  ORV_E2E_CHECK_STAGING=0 orv_e2e_judge "${status[i]}" "$work/copy$i.err" 0 82 none - ""
  problems=$copy_problems${problems:+"copy $i: $problems"}
done
[ "$losers" = $((COPIES - 1)) ] || problems+="$losers copies ended while one held the mutex; "
orv_e2e_report "the other seven" "$problems" "seven copies ended with 82 (1618) and no MessageBox call while one still ran"

# The one left shows its box; the watcher, started only now, must see that
# one box and no other, and answers it.
problems=
if [ -n "$winner" ] && [ "$running" = 1 ]; then
  orv_e2e_wait_for "$work/copy$winner.err" 'Call user32\.MessageBoxW' "$LIMIT" "${jobs[winner]}" ||
    problems+="the last copy never called MessageBoxW; "
  orv_e2e_start_watcher "$ORV_E2E_BOXES" 1 "$LIMIT" || problems+="the box watcher did not start; "
  winner_status=0
  orv_e2e_wait "${jobs[winner]}" "$LIMIT" "${ORV_E2E_WATCHER_JOB:-}" || winner_status=$?
  ended[winner]=1
  [ "$winner_status" = 0 ] || problems+="the last copy after OK: "
  orv_e2e_judge "$winner_status" "$work/copy$winner.err" 0 0 succeeded patched ""
  if [ -n "${ORV_E2E_WATCHER_JOB:-}" ]; then
    watcher_status=0
    orv_e2e_wait "$ORV_E2E_WATCHER_JOB" 60 || watcher_status=$?
    [ "$watcher_status" = 0 ] || problems+="watcher exit $watcher_status (1 timeout, 2 more boxes than one); "
  fi
else
  problems+="no single copy was left holding the mutex; "
  orv_e2e_check_patched "$host"
  orv_e2e_check_no_staging "$host"
fi
orv_e2e_report "the one that ran" "$problems" "one box 'Install Succeeded.' (information), exit 0 after OK; the add-in folder patched once, nothing left over"

orv_e2e_summary "wine concurrency"
