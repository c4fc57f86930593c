# shellcheck shell=bash disable=SC2034
# Shared by the tests/e2e/wine_*.sh suites and scripts/demo.sh (sourced,
# bash): a demonstration installation of the host on the Linux side, the real
# patch run under Wine through scripts/wine-run.sh, and readers and checks for
# what it showed and left.
#
# A Windows process start may cost up to a minute where Wine's loader is
# emulated, so callers are expected to launch as few as they can; the
# functions here launch exactly one Windows process each where they launch
# any (noted per function).
#
# Needs: ORV_REPO (the source tree). Optional: ORV_E2E_EXE, ORV_E2E_WATCHER,
# ORV_E2E_MAKER (install-maker), ORV_E2E_FILEVERSION (the programs; defaults
# in the build trees), ORV_E2E_LAUNCH_SECONDS (how long one Windows process
# may take).

ORV_E2E_EXE=${ORV_E2E_EXE:-$ORV_REPO/build/win32/WinOrvantoPatch1.exe}
ORV_E2E_WATCHER=${ORV_E2E_WATCHER:-$ORV_REPO/build/win32/tools/box_watcher/box_watcher.exe}
ORV_E2E_MAKER=${ORV_E2E_MAKER:-$ORV_REPO/build/native/tools/install-maker}
ORV_E2E_FILEVERSION=${ORV_E2E_FILEVERSION:-$ORV_REPO/build/native/tools/fileversion}
ORV_E2E_LAUNCH_SECONDS=${ORV_E2E_LAUNCH_SECONDS:-600}
ORV_E2E_CAPTION="Patch for Orvanto"
# The program's work folders: the staging folder in the temporary folder, the
# others beside the add-in folder (the copy's numbered names add digits).
ORV_E2E_STAGING=PellmarkOV
ORV_E2E_BAK=Pellmark_BAK
ORV_E2E_CPY=Pellmark_CPY
ORV_E2E_JOURNAL=Pellmark_JOURNAL

orv_e2e_log() { echo "[$(date +%T)] $*" >&2; }

# Checks that the programs exist and loads the Wine settings (prefix, user,
# orv_wine_env) the way wine-run.sh does. Prepares the prefix if needed.
orv_e2e_init() {
  local missing=0 f
  for f in "$ORV_E2E_EXE" "$ORV_E2E_WATCHER"; do
    [ -f "$f" ] || { echo "missing $f: build it with" \
      "cmake --preset win32 && cmake --build build/win32 --target WinOrvantoPatch1 box_watcher" >&2
      missing=1; }
  done
  for f in "$ORV_E2E_MAKER" "$ORV_E2E_FILEVERSION"; do
    [ -x "$f" ] || { echo "missing $f: build it with" \
      "cmake --preset native && cmake --build build/native --target install-maker fileversion" >&2
      missing=1; }
  done
  [ "$missing" = 0 ] || return 2
  sh "$ORV_REPO/scripts/wine-setup.sh" || return 2
  # shellcheck source=scripts/wine-env.sh
  . "$ORV_REPO/scripts/wine-env.sh"
  ORV_E2E_TEMP=$ORV_WINE_PREFIX/drive_c/users/$ORV_WINE_USER/Temp
  # The payload table: ORV_PAYLOAD_PATHS (Linux-style relative paths), and
  # per index ORV_PAYLOAD_TIMES (local wall-clock time) and
  # ORV_PAYLOAD_SIZES; ORV_PAYLOAD_VERSION; ORV_LIBRARIES.
  local table
  table=$("$ORV_E2E_MAKER" table) && eval "$table"
}

# Linux path -> the path Wine's programs see.
orv_e2e_winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# A fresh folder under the Wine root that the Wine user owns; prints it.
orv_e2e_workdir() {
  local dir
  dir=$(mktemp -d "$ORV_WINE_ROOT/e2e-XXXXXX") || return 1
  chmod 0755 "$dir"
  [ "$(id -u)" = 0 ] && chown "$ORV_WINE_USER:" "$dir"
  printf '%s\n' "$dir"
}

# Writes the launcher HOST/Quenbrite.exe with file version VERSION, or with
# no version resource when VERSION is "none".
orv_e2e_launcher() {
  local host=$1 version=$2
  "$ORV_E2E_MAKER" wine "$host" --only launcher --launcher-version "$version" &&
    orv_e2e_give "$host/Quenbrite.exe"
}

orv_e2e_give() {
  chmod -R a+rX "$@"
  [ "$(id -u)" = 0 ] && chown -R "$ORV_WINE_USER:" "$@"
  return 0
}

# An installation as the patch finds it in the field (install-maker's):
# launcher 4.1.52.1, the 25 add-in files at 1.0.0.9 (dated 2015) and the
# three libraries the patch keeps, whose bytes are recorded in
# HOST/../libraries.sha256.
orv_e2e_make_install() {
  local host=$1
  "$ORV_E2E_MAKER" wine "$host" || return 1
  (cd "$host/Pellmark" && sha256sum "${ORV_LIBRARIES[@]}") >"$host/../libraries.sha256"
  orv_e2e_give "$(dirname "$host")"
}

# ONE launch: points the App Paths entry at HOST and limits the relay trace
# to the message box calls (the icon is read from that trace).
orv_e2e_set_registry() {
  local host=$1 reg
  reg=$(dirname "$host")/settings.reg
  # install-maker's script is UTF-16 with a byte order mark; the relay
  # setting follows in the same encoding, so that one import sets both.
  { "$ORV_E2E_MAKER" wine "$host" --only registry --reg "$reg" &&
    iconv -f UTF-8 -t UTF-16LE >>"$reg" <<'REG'

[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="user32.MessageBoxW;user32.MessageBoxExW;user32.MessageBoxIndirectW"
REG
  } || return 1
  orv_e2e_give "$reg"
  orv_e2e_log "setting the registry (one Wine launch)"
  # As in wine-run.sh: a session started here lives on for an hour, and when
  # this launch is the one that boots it, the services get /dev/null.
  (
    flock 8
    orv_wine_env wineserver -p3600 </dev/null >/dev/null 2>&1 || true
    orv_wine_env wine reg import "$(orv_e2e_winpath "$reg")" </dev/null >/dev/null 2>&1
  ) 8>"$ORV_WINE_ROOT/run/session-start.lock"
}

# Starts PROGRAM ARGS... under Wine in the background through wine-run.sh,
# standard error (the relay trace, unless ORV_E2E_DEBUG says otherwise) to
# ERRFILE. Sets ORV_E2E_JOB.
orv_e2e_start() {
  local errfile=$1
  shift
  ORV_WINEDEBUG=${ORV_E2E_DEBUG:--all,+relay} bash "$ORV_REPO/scripts/wine-run.sh" "$@" </dev/null >/dev/null 2>"$errfile" &
  ORV_E2E_JOB=$!
}

# Kills the processes below job PID (the Windows program under qemu and its
# runuser), never the Wine server: other tests may share the session.
orv_e2e_kill_below() {
  local pid=$1 child
  for child in $(pgrep -P "$pid"); do
    orv_e2e_kill_below "$child"
    kill -KILL "$child" 2>/dev/null
  done
  return 0
}

# Waits up to SECONDS for background job PID; its exit code, or 124 after
# killing it when it outlasts the wait. With WATCHER (a watcher job), gives
# up with 125 soon after the watcher has ended: a box would then wait for
# ever.
orv_e2e_wait() {
  local pid=$1 seconds=$2 watcher=${3:-} waited=0 orphaned=0 status=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ -n "$watcher" ] && ! kill -0 "$watcher" 2>/dev/null; then
      orphaned=$((orphaned + 1))
    fi
    if [ "$waited" -ge "$seconds" ] || [ "$orphaned" -gt 15 ]; then
      orv_e2e_log "job $pid still running after ${waited}s: killing it"
      orv_e2e_kill_below "$pid"
      wait "$pid" 2>/dev/null
      [ "$orphaned" -gt 15 ] && return 125
      return 124
    fi
    sleep 1
    waited=$((waited + 1))
  done
  wait "$pid" || status=$?
  return "$status"
}

# Runs the patch, waits for it; its exit code. Trace to ERRFILE.
orv_e2e_run_patch() {
  local errfile=$1
  orv_e2e_start "$errfile" "$ORV_E2E_EXE"
  orv_e2e_wait "$ORV_E2E_JOB" "$ORV_E2E_LAUNCH_SECONDS" "${ORV_E2E_WATCHER_JOB:-}"
}

# Waits until FILE holds a line matching the extended regex PATTERN, for up
# to SECONDS, giving up early when job PID (if given) ends.
orv_e2e_wait_for() {
  local file=$1 pattern=$2 seconds=$3 pid=${4:-} waited=0
  until grep -Eq -- "$pattern" "$file" 2>/dev/null; do
    [ "$waited" -ge "$seconds" ] && return 1
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
      grep -Eq -- "$pattern" "$file" 2>/dev/null
      return
    fi
    sleep 1
    waited=$((waited + 1))
  done
}

# ONE launch, in the background: box_watcher logging to LOG (a file the Wine
# user may write), pressing OK, expecting N boxes. Waits for its "ready".
# Sets ORV_E2E_WATCHER_JOB.
orv_e2e_start_watcher() {
  local log=$1 expect=$2 timeout=$3
  : >"$log"
  orv_e2e_give "$log"
  local only=()
  # A watcher that can tell boxes apart by their process leaves other tests'
  # boxes alone (the session may be shared); older ones take every box.
  if python3 -c 'import sys; sys.exit("--process".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
    "$ORV_E2E_WATCHER" 2>/dev/null; then
    only=(--process "$(basename "$ORV_E2E_EXE")")
  fi
  orv_e2e_log "starting the box watcher (one Wine launch)"
  ORV_E2E_DEBUG=-all orv_e2e_start "$log.err" "$ORV_E2E_WATCHER" --log "$(orv_e2e_winpath "$log")" \
    --expect "$expect" --timeout "$timeout" --press ok "${only[@]}"
  ORV_E2E_WATCHER_JOB=$ORV_E2E_JOB
  orv_e2e_wait_for "$log" '^ready$' "$ORV_E2E_LAUNCH_SECONDS" "$ORV_E2E_WATCHER_JOB"
}

# Reads relay trace FILE: ORV_E2E_CALLS, the number of message box calls;
# ORV_E2E_FLAGS, the flags argument of the first MessageBoxW call (empty
# when there was none).
orv_e2e_box_flags() {
  local file=$1
  ORV_E2E_CALLS=$(grep -c 'Call user32\.MessageBox' "$file" 2>/dev/null)
  ORV_E2E_FLAGS=$(sed -n 's/.*Call user32\.MessageBoxW(.*,\([0-9a-fA-F]\{8\}\)) ret=.*/\1/p' "$file" |
    head -n1)
}

orv_e2e_icon_name() {
  case $1 in
    00000040) echo information ;;
    00000030) echo warning ;;
    "") echo "(no MessageBoxW call in the trace)" ;;
    *) echo "other (flags $1)" ;;
  esac
}

# The number of boxes in watcher LOG so far.
orv_e2e_box_count() {
  grep -vc '^ready$' "$1"
}

# The boxes in watcher LOG after the first MARK. The session may be shared
# with other tests, whose boxes the watcher logs (and answers) as well: a
# run is judged by all the boxes that came during it, not by a position.
orv_e2e_boxes_since() {
  grep -v '^ready$' "$1" | tail -n +"$(($2 + 1))"
}

# One line per file under HOST/Pellmark: relative path, size, file version
# (or "-"), modification time in local time, sorted by path.
orv_e2e_listing() {
  local dir=$1/Pellmark rel version
  (cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | while IFS= read -r rel; do
    version=$("$ORV_E2E_FILEVERSION" "$dir/$rel" 2>/dev/null) || version=-
    printf '%-34s %8s  %-9s %s\n' "$rel" "$(stat -c %s "$dir/$rel")" "$version" \
      "$(env -u TZ date -d "@$(stat -c %Y "$dir/$rel")" '+%F %T')"
  done
}

# Everything about HOST that a run that changes nothing must leave as it
# was: every entry (the add-in folder and any sibling) by kind and name,
# every file with its size, time and content hash, except the launcher the
# case swaps itself. Folder times are left out: probing whether the folder
# is writable may touch them.
orv_e2e_snapshot() {
  local host=$1
  (cd "$host" && find . -mindepth 1 ! -path ./Quenbrite.exe -printf '%y %p\n' | LC_ALL=C sort &&
    find . -type f ! -path ./Quenbrite.exe -printf '%p %s %T@\n' | LC_ALL=C sort &&
    find . -type f ! -path ./Quenbrite.exe -exec sha256sum {} + | LC_ALL=C sort -k2)
}

# The checks below append what they find wrong to the caller's $problems.

# No staging folder in the Wine user's temporary folder and nothing but the
# add-in folder and the launcher in HOST.
orv_e2e_check_no_staging() {
  local host=$1 left
  left=$(find "$ORV_E2E_TEMP" -maxdepth 1 -iname "$ORV_E2E_STAGING*" 2>/dev/null)
  [ -z "$left" ] || problems+="staging left in the Wine user's temp: $left; "
  left=$(find "$host" -mindepth 1 -maxdepth 1 ! -name Pellmark ! -name Quenbrite.exe -printf '%f ')
  [ -z "$left" ] || problems+="left beside the add-in folder: $left; "
}

# The patched add-in folder of HOST (made by orv_e2e_make_install): exactly
# the payload and the kept libraries, each payload file as the table says,
# the libraries' bytes unchanged.
orv_e2e_check_patched() {
  local host=$1 expected actual i f want got
  expected=$(printf '%s\n' "${ORV_PAYLOAD_PATHS[@]}" "${ORV_LIBRARIES[@]}" | LC_ALL=C sort)
  actual=$(cd "$host/Pellmark" 2>/dev/null && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
  [ "$expected" = "$actual" ] ||
    problems+="files differ: $(diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' | tr '\n' ' '); "
  (cd "$host/Pellmark" && sha256sum --quiet -c "$host/../libraries.sha256" >/dev/null 2>&1) ||
    problems+="kept libraries changed or missing; "
  for i in "${!ORV_PAYLOAD_PATHS[@]}"; do
    f=$host/Pellmark/${ORV_PAYLOAD_PATHS[$i]}
    [ -f "$f" ] || continue
    got=$(stat -c %s "$f")
    [ "$got" = "${ORV_PAYLOAD_SIZES[$i]}" ] || problems+="${ORV_PAYLOAD_PATHS[$i]} size $got; "
    got=$("$ORV_E2E_FILEVERSION" "$f" 2>&1)
    [ "$got" = "$ORV_PAYLOAD_VERSION" ] || problems+="${ORV_PAYLOAD_PATHS[$i]} version $got; "
    # The prefix runs in the machine's zone (TZ unset), and so does this.
    want=$(env -u TZ date -d "${ORV_PAYLOAD_TIMES[$i]}" +%s)
    got=$(stat -c %Y "$f")
    [ "$got" = "$want" ] ||
      problems+="${ORV_PAYLOAD_PATHS[$i]} time $(env -u TZ date -d "@$got" '+%F %T'); "
  done
}

# Appends what differs between the boxes in watcher LOG after the first MARK
# and the one expected: caption and TEXT, and FLAGS (the icon) from relay
# trace ERRFILE, which must hold exactly one message box call.
orv_e2e_check_box() {
  local log=$1 mark=$2 text=$3 flags=$4 errfile=$5 lines
  lines=$(orv_e2e_boxes_since "$log" "$mark")
  [ "$lines" = "$ORV_E2E_CAPTION"$'\t'"$text" ] ||
    problems+="box: expected '$ORV_E2E_CAPTION | $text', saw '${lines:-no box}' (another test's boxes show here too if one shares the Wine session); "
  orv_e2e_box_flags "$errfile"
  [ "$ORV_E2E_CALLS" = 1 ] || problems+="$ORV_E2E_CALLS MessageBox calls in the trace; "
  [ "$ORV_E2E_FLAGS" = "$flags" ] ||
    problems+="icon flags ${ORV_E2E_FLAGS:-none}, expected $flags; "
}

# The texts of the four outcomes that show a box, as the watcher logs them.
ORV_E2E_TEXT_SUCCEEDED='Install Succeeded.'
ORV_E2E_TEXT_NOT_NEEDED='There is no need to apply this patch.'
ORV_E2E_TEXT_HOST_TOO_OLD='This patch cannot be run because Orvanto V4.1L52 that this patch is applied to is not installed. \nApply the latest updates for Orvanto, and try again.'
ORV_E2E_TEXT_FAILED='Install Failed.\nQuit any applications that are running on your computer, and try again.'

# Results: one line per case or check, counted for the closing line.
ORV_E2E_PASSED=0
ORV_E2E_FAILED=0
ORV_E2E_STARTED=$(date +%s)

# orv_e2e_report NAME PROBLEMS [GOOD-NEWS]: passes when PROBLEMS is empty.
orv_e2e_report() {
  local elapsed=$(($(date +%s) - ORV_E2E_STARTED)) problems=$2
  if [ -z "$problems" ]; then
    ORV_E2E_PASSED=$((ORV_E2E_PASSED + 1))
    printf 'PASS %s: %s [%ss]\n' "$1" "${3:-}" "$elapsed"
  else
    ORV_E2E_FAILED=$((ORV_E2E_FAILED + 1))
    # A wholly unpatched folder gives three problems per file: the first few say it.
    [ "${#problems}" -le 700 ] || problems="${problems:0:700}..."
    printf 'FAIL %s: %s [%ss]\n' "$1" "$problems" "$elapsed"
  fi
}

# orv_e2e_summary SUITE: the closing line; fails when anything failed.
orv_e2e_summary() {
  echo "$1: $ORV_E2E_PASSED passed, $ORV_E2E_FAILED failed"
  [ "$ORV_E2E_FAILED" = 0 ]
}

# orv_e2e_remove_work DIR: the work folder goes, read-only files and all,
# unless ORV_E2E_KEEP=1 asks to keep it for a look.
orv_e2e_remove_work() {
  if [ "${ORV_E2E_KEEP:-0}" = 1 ]; then
    echo "kept $1" >&2
  else
    chmod -R u+w "$1" 2>/dev/null
    rm -rf "$1"
  fi
}

# orv_e2e_finish DIR PID...: for a suite's exit trap. Ends what is still
# running below each job (never the Wine server: wine-run.sh's stop trap
# would end every program in the session), then removes the work folder.
orv_e2e_finish() {
  local work=$1 pid
  shift
  for pid in "$@"; do
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && orv_e2e_kill_below "$pid"
  done
  orv_e2e_remove_work "$work"
}
