#!/usr/bin/env bash
# The performance benchmark (not a test; scripts/test.sh does not run it).
# Measures, in one run on one machine, each figure beside its yardstick:
#
#   1. a successful native patch on a fresh demonstration installation
#      against the floor (bench/floor.cpp: the same file work done directly,
#      started as a process too), and the same work by coreutils (context);
#   2. a run that finds nothing to do (all 25 files at 1.0.1.1) against
#      starting /bin/true;
#   3. both runs of the Windows exe under Wine against a Windows program
#      that does nothing and one that only shows a message box, in a
#      private copy of the Wine prefix;
#   4. peak resident memory and time of the native patch with the default
#      payload and with one ten times larger (PATCH_PAYLOAD_DIR);
#   5. file versions read per second by the native PE reader and by
#      python3-pefile over every PE file Wine installs;
#   6. the size of WinOrvantoPatch1.exe beyond its payload;
#   and callgrind's instruction counts for 1 and 2.
#
# Every timed run is one process started by bench/run_once.cpp, which reads
# the clock just before starting it and just after reaping it; preparing the
# fresh installation comes before, checking the result after, neither timed.
# Figures are medians over the runs; a ratio is the median of the ratios of
# runs paired in turn (A B, B A, A B, ...), so a drift of the machine's speed
# moves both sides alike.
#
#   bash scripts/bench.sh [--runs N] [--no-wine]
#
# N defaults to 21. Results: build/bench/results.txt (also printed), the
# rows of every run in build/bench/rows/. Wine parts wait (up to
# ORV_BENCH_WINE_WAIT seconds, default 1800) while other Wine tests run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

runs=21
warmup=2
wine=1
while [[ $# -gt 0 ]]; do
  case $1 in
    --runs) runs=${2:?}; shift 2 ;;
    --no-wine) wine=0; shift ;;
    *) echo "usage: $0 [--runs N] [--no-wine]" >&2; exit 2 ;;
  esac
done
[[ $runs =~ ^[0-9]+$ && $runs -ge 1 ]] || { echo "$0: --runs takes a positive number" >&2; exit 2; }
[[ $runs -ge 20 ]] || echo "note: $runs runs; the figures are meant as medians of at least 20" >&2

bash scripts/install-deps.sh

log() { echo "[$(date +%T)] $*" >&2; }

# --- Builds ------------------------------------------------------------------

jobs=$(nproc 2>/dev/null || echo 2)
log "building the native programs"
# Configured every time: a tree made before the bench existed has no rules for its targets.
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs" --target WinOrvantoPatch1 pegen fileversion \
  orv_bench_run orv_bench_floor orv_bench_pe_rate >/dev/null

native=$root/build/native
run=$native/bench/orv_bench_run
pegen=$native/tools/pegen
fileversion=$native/tools/fileversion
work=$root/build/bench
rows=$work/rows
rm -rf "$work/run" "$rows"
mkdir -p "$work/run" "$rows"
results=$work/results.txt

# The payload ten times larger: the same files at ten times the table's
# sizes, made once, and a native build of the program and the floor with it.
big_payload=$work/payload10x
big_build=$root/build/bench-payload10x
if [[ ! -f $big_payload/.complete || patch/payload.tsv -nt $big_payload/.complete ]]; then
  log "generating the payload ten times larger"
  rm -rf "$big_payload"
  while IFS=$'\t' read -r kind _ path _ size; do
    [[ $kind == payload ]] || continue
    file=$big_payload/${path//\\//}
    mkdir -p "$(dirname "$file")"
    flags=()
    [[ $file == *.exe ]] && flags=(--exe)
    "$pegen" "$file" --version 1.0.1.1 --size $((size * 10)) "${flags[@]}"
  done <patch/payload.tsv
  touch "$big_payload/.complete"
fi
log "building the program with that payload"
cmake --preset native -B "$big_build" -DORVANTO_TESTS=OFF -DPATCH_PAYLOAD_DIR="$big_payload" >/dev/null
cmake --build "$big_build" -j"$jobs" --target WinOrvantoPatch1 orv_bench_floor >/dev/null

log "building the Windows programs"
cmake --preset win32 >/dev/null
windows_targets=(WinOrvantoPatch1)
[[ $wine == 0 ]] || windows_targets+=(orv_bench_trivial orv_bench_box box_watcher)
cmake --build --preset win32 -j"$jobs" --target "${windows_targets[@]}" >/dev/null

# --- Figures -------------------------------------------------------------------

# Rows are "<wall ns> <user us> <system us> <peak KiB> <exit code>".
median() { sort -g | awk '{v[NR] = $1} END {if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
wall_ms() { awk '{print $1 / 1e6}' "$1" | median; }
cpu_ms() { awk '{print ($2 + $3) / 1e3}' "$1" | median; }
peak_kib() { awk '{print $4}' "$1" | median; }
# The median of A/B over paired rows; FIELD wall or cpu.
paired() {
  paste -d' ' "$1" "$2" | awk -v f="$3" '{
    a = f == "wall" ? $1 : $2 + $3; b = f == "wall" ? $6 : $7 + $8
    if (b > 0) print a / b }' | median
}
fmt() { printf '%.*f' "$1" "$2"; }

: >"$results"
say() { printf '%s\n' "$*" | tee -a "$results"; }

# Times one run of a program (orv_bench_run's options, then -- PROGRAM ...),
# appending its row to FILE unless it is a warm-up (I < 0). Fails on a
# non-zero exit code.
timed() {
  local file=$1 i=$2
  shift 2
  local row
  row=$("$run" "$@")
  local code=${row##* }
  if [[ $code != 0 ]]; then
    echo "timed run failed (exit $code): $*" >&2
    return 1
  fi
  [[ $i -lt 0 ]] || printf '%s\n' "$row" >>"$file"
}

# --- Demonstration installations -----------------------------------------------

# shellcheck source=scripts/native-install.sh
. scripts/native-install.sh

# A fresh copy of the template at DIR (not timed).
fresh() {
  rm -rf "$1"
  cp -a "$work/template" "$1"
  orv_native_registry "$1"
}

addin() { printf '%s' "$1/Program Files/Orvanto/Pellmark"; }

# Names, sizes, times and contents below the host folder of DIR.
tree_of() {
  (cd "$1/Program Files/Orvanto" && find . -mindepth 1 -printf '%y %p %s %T@\n' | grep -v '^d' |
    LC_ALL=C sort && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)
}

log "preparing the demonstration installations"
rm -rf "$work/template" "$work/current"
orv_native_install "$work/template" 1.0.0.9
orv_native_install "$work/current" 1.0.1.1

patch_env=(--env "ORVANTO_HKLM=$work/run/patch/hklm" --env "TMPDIR=$work/run/patch/tmp"
  --stdout "$work/run/patch.out")
patch_run() { timed "$1" "$2" "${patch_env[@]}" -- "$3"; }
patch_check() {
  grep -qx '\[information\] Install Succeeded.' "$work/run/patch.out" || {
    echo "the patch did not succeed:" >&2
    cat "$work/run/patch.out" >&2
    return 1
  }
}
floor_run() { timed "$1" "$2" -- "$3" "$(addin "$work/run/floor")" "$work/run/floor/tmp"; }
coreutils_run() {
  timed "$1" "$2" --env PATH=/usr/bin:/bin -- /bin/bash "$root/bench/floor-coreutils.sh" "$(addin "$work/run/coreutils")" \
    "$work/run/coreutils/tmp" "$native/payload" "$root/patch/payload.tsv"
}

# The three do the same work: the same files, sizes, times and bytes.
fresh "$work/run/patch" && patch_run /dev/null -1 "$native/WinOrvantoPatch1" && patch_check
fresh "$work/run/floor" && floor_run /dev/null -1 "$native/bench/orv_bench_floor"
fresh "$work/run/coreutils" && coreutils_run /dev/null -1
patch_tree=$(tree_of "$work/run/patch")
if [[ $patch_tree != "$(tree_of "$work/run/floor")" ]] ||
  [[ $patch_tree != "$(tree_of "$work/run/coreutils")" ]]; then
  echo "the patch, the floor and the coreutils script left different add-in folders" >&2
  exit 1
fi

machine="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores, \
$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(uname -sr), \
work folder on $(df -T "$work" | awk 'NR == 2 {print $2}')"
say "benchmark $(date -u +%FT%TZ), $runs runs each ($warmup warm-up runs not counted)"
say "machine: $machine"
say "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
say ""

# --- 1. A full patch against the floor --------------------------------------------

log "1. full patch, floor and coreutils ($runs runs each)"
for ((i = -warmup; i < runs; i++)); do
  order=(patch floor coreutils)
  ((i % 2 == 0)) || order=(floor patch coreutils)
  for side in "${order[@]}"; do
    fresh "$work/run/$side"
    case $side in
      patch) patch_run "$rows/patch.txt" "$i" "$native/WinOrvantoPatch1" && patch_check ;;
      floor) floor_run "$rows/floor.txt" "$i" "$native/bench/orv_bench_floor" ;;
      coreutils) coreutils_run "$rows/coreutils.txt" "$i" ;;
    esac
  done
done

ratio_full=$(paired "$rows/patch.txt" "$rows/floor.txt" wall)
say "1. Full successful patch (native) against the floor        goal: at most 1.2"
say "   patch      wall $(fmt 2 "$(wall_ms "$rows/patch.txt")") ms   cpu $(fmt 2 "$(cpu_ms "$rows/patch.txt")") ms   peak $(peak_kib "$rows/patch.txt") KiB"
say "   floor      wall $(fmt 2 "$(wall_ms "$rows/floor.txt")") ms   cpu $(fmt 2 "$(cpu_ms "$rows/floor.txt")") ms   peak $(peak_kib "$rows/floor.txt") KiB"
say "   coreutils  wall $(fmt 2 "$(wall_ms "$rows/coreutils.txt")") ms   cpu $(fmt 2 "$(cpu_ms "$rows/coreutils.txt")") ms   (a shell script: context only)"
say "   patch/floor      wall $(fmt 3 "$ratio_full")   cpu $(fmt 3 "$(paired "$rows/patch.txt" "$rows/floor.txt" cpu)")"
say "   coreutils/floor  wall $(fmt 3 "$(paired "$rows/coreutils.txt" "$rows/floor.txt" wall)")   cpu $(fmt 3 "$(paired "$rows/coreutils.txt" "$rows/floor.txt" cpu)")"
say ""

# --- 2. Nothing to do against /bin/true ---------------------------------------------

log "2. not needed and /bin/true ($runs runs each)"
current_env=(--env "ORVANTO_HKLM=$work/current/hklm" --env "TMPDIR=$work/current/tmp"
  --stdout "$work/run/current.out")
for ((i = -warmup; i < runs; i++)); do
  order=(current true)
  ((i % 2 == 0)) || order=(true current)
  for side in "${order[@]}"; do
    case $side in
      current)
        timed "$rows/not-needed.txt" "$i" "${current_env[@]}" -- "$native/WinOrvantoPatch1"
        grep -qx '\[information\] There is no need to apply this patch.' "$work/run/current.out"
        ;;
      true) timed "$rows/true.txt" "$i" -- /bin/true ;;
    esac
  done
done
ratio_nn=$(paired "$rows/not-needed.txt" "$rows/true.txt" wall)
say "2. Not needed (native) against starting /bin/true           goal: at most 3"
say "   not needed wall $(fmt 2 "$(wall_ms "$rows/not-needed.txt")") ms   cpu $(fmt 2 "$(cpu_ms "$rows/not-needed.txt")") ms   peak $(peak_kib "$rows/not-needed.txt") KiB"
say "   /bin/true  wall $(fmt 2 "$(wall_ms "$rows/true.txt")") ms   cpu $(fmt 2 "$(cpu_ms "$rows/true.txt")") ms   peak $(peak_kib "$rows/true.txt") KiB"
say "   not needed/true  wall $(fmt 3 "$ratio_nn")   cpu $(fmt 3 "$(paired "$rows/not-needed.txt" "$rows/true.txt" cpu)")"
say ""

# --- Callgrind: instruction counts, which machine noise does not move -----------------

log "callgrind: instruction counts"
valgrind=$(command -v valgrind)
# The instructions of one run of PROGRAM... with exactly the environment
# VARIABLE=VALUE... given before it (as the timed runs have).
instructions() {
  local out=$work/run/callgrind.out variables=()
  while [[ $1 == *=* ]]; do variables+=("$1"); shift; done
  rm -f "$out"
  env -i "${variables[@]}" "$valgrind" --tool=callgrind --callgrind-out-file="$out" "$@" \
    </dev/null >/dev/null 2>&1
  awk '/^(summary|totals):/ {print $2; exit}' "$out"
}
fresh "$work/run/patch"
ir_patch=$(instructions "ORVANTO_HKLM=$work/run/patch/hklm" "TMPDIR=$work/run/patch/tmp" \
  "$native/WinOrvantoPatch1")
patch_check_file=$(find "$work/run/patch/Program Files/Orvanto/Pellmark" -name Pellmark35.exe -size +800k)
[[ -n $patch_check_file ]] || { echo "the patch under callgrind did not succeed" >&2; exit 1; }
fresh "$work/run/floor"
ir_floor=$(instructions "$native/bench/orv_bench_floor" "$(addin "$work/run/floor")" "$work/run/floor/tmp")
ir_nn=$(instructions "ORVANTO_HKLM=$work/current/hklm" "TMPDIR=$work/current/tmp" "$native/WinOrvantoPatch1")
ir_true=$(instructions /bin/true)
say "   callgrind, instructions executed (user space, whole process)"
say "   full patch $ir_patch, floor $ir_floor: $(fmt 3 "$(awk -v a="$ir_patch" -v b="$ir_floor" 'BEGIN {print a / b}')")"
say "   not needed $ir_nn, /bin/true $ir_true: $(fmt 3 "$(awk -v a="$ir_nn" -v b="$ir_true" 'BEGIN {print a / b}')")"
say ""

# --- 4. Memory and time with a payload ten times larger ---------------------------------

log "4. the payload ten times larger ($runs runs each)"
for ((i = -warmup; i < runs; i++)); do
  order=(patch floor)
  ((i % 2 == 0)) || order=(floor patch)
  for side in "${order[@]}"; do
    fresh "$work/run/$side"
    case $side in
      patch) patch_run "$rows/patch-10x.txt" "$i" "$big_build/WinOrvantoPatch1" && patch_check ;;
      floor) floor_run "$rows/floor-10x.txt" "$i" "$big_build/bench/orv_bench_floor" ;;
    esac
  done
done
payload_bytes() { find "$1" -type f ! -name '.*' -printf '%s\n' | awk '{s += $1} END {print s}'; }
small_bytes=$(payload_bytes "$native/payload")
large_bytes=$(payload_bytes "$big_payload")
peak_small=$(peak_kib "$rows/patch.txt")
peak_large=$(peak_kib "$rows/patch-10x.txt")
growth=$(awk -v a="$peak_large" -v b="$peak_small" 'BEGIN {print a - b}')
say "4. Peak memory and time, default payload and ten times larger   goal: under 1 MB growth"
say "   payload $small_bytes bytes: peak $peak_small KiB, wall $(fmt 2 "$(wall_ms "$rows/patch.txt")") ms"
say "   payload $large_bytes bytes: peak $peak_large KiB, wall $(fmt 2 "$(wall_ms "$rows/patch-10x.txt")") ms"
small_ms=$(wall_ms "$rows/patch.txt")
large_ms=$(wall_ms "$rows/patch-10x.txt")
say "   peak growth $growth KiB; time ten times larger / default: wall $(fmt 2 "$(awk -v a="$large_ms" -v b="$small_ms" 'BEGIN {print a / b}')"), cpu $(fmt 2 "$(awk -v a="$(cpu_ms "$rows/patch-10x.txt")" -v b="$(cpu_ms "$rows/patch.txt")" 'BEGIN {print a / b}')")"
say "   as a line through both: $(awk -v a="$large_ms" -v b="$small_ms" -v x="$large_bytes" -v y="$small_bytes" 'BEGIN {
  per = (a - b) / ((x - y) / 1048576); printf "%.2f ms per MiB of payload over %.2f ms that does not depend on it", per, b - per * y / 1048576 }')"
say "   floor with it: wall $(fmt 2 "$(wall_ms "$rows/floor-10x.txt")") ms, peak $(peak_kib "$rows/floor-10x.txt") KiB; patch/floor wall $(fmt 3 "$(paired "$rows/patch-10x.txt" "$rows/floor-10x.txt" wall)"), cpu $(fmt 3 "$(paired "$rows/patch-10x.txt" "$rows/floor-10x.txt" cpu)")"
say ""

# --- 5. File versions per second --------------------------------------------------------

log "5. file versions per second ($runs passes each)"
pe_list=$work/run/pe-files.txt
/usr/bin/python3 - "$pe_list" /usr/lib/i386-linux-gnu/wine /usr/lib/x86_64-linux-gnu/wine <<'PY'
import os, sys
paths = []
for folder in sys.argv[2:]:
    for top, _, names in os.walk(folder):
        for name in sorted(names):
            path = os.path.join(top, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                if f.read(2) == b"MZ":
                    paths.append(path)
with open(sys.argv[1], "w", encoding="utf-8", errors="surrogateescape") as out:
    out.write("".join(p + "\n" for p in sorted(paths)))
PY
"$native/bench/orv_bench_pe_rate" "$runs" "$pe_list" >"$rows/pe-native.txt"
/usr/bin/python3 "$root/bench/pe_rate.py" "$runs" "$pe_list" >"$rows/pe-pefile.txt"
rate() { awk '{print $2 / $1}' "$1" | median; }
pe_native=$(rate "$rows/pe-native.txt")
pe_pefile=$(rate "$rows/pe-pefile.txt")
say "5. File versions read per second over the PE files Wine installs ($(wc -l <"$pe_list") files)"
say "   native reader $(fmt 0 "$pe_native")/s ($(awk 'NR == 1 {print $3}' "$rows/pe-native.txt") with a version)"
say "   pefile        $(fmt 0 "$pe_pefile")/s ($(awk 'NR == 1 {print $3}' "$rows/pe-pefile.txt") with a version)"
say "   native/pefile $(fmt 1 "$(awk -v a="$pe_native" -v b="$pe_pefile" 'BEGIN {print a / b}')")"
say ""

# --- 6. The exe beyond its payload ---------------------------------------------------------

exe=$root/build/win32/WinOrvantoPatch1.exe
exe_bytes=$(stat -c %s "$exe")
exe_payload=$(payload_bytes "$root/build/win32/payload")
say "6. WinOrvantoPatch1.exe beyond its payload                      goal: at most 200 KB (204800 bytes)"
say "   exe $exe_bytes bytes, payload $exe_payload bytes: $((exe_bytes - exe_payload)) bytes beyond it"
say ""

# --- 3. Under Wine ---------------------------------------------------------------------------

wine_busy() { pgrep -f 'wine-run.sh|box_watcher|wine_e2e' >/dev/null; }

if [[ $wine == 1 ]]; then
  waited=0
  while wine_busy; do
    if [[ $waited -ge ${ORV_BENCH_WINE_WAIT:-1800} ]]; then
      say "3. Under Wine: not measured, other Wine tests kept running for ${waited} s"
      wine=0
      break
    fi
    [[ $waited == 0 ]] && log "other Wine tests are running: waiting for them"
    sleep 10
    waited=$((waited + 10))
  done
fi

if [[ $wine == 1 ]]; then
  log "3. under Wine ($runs runs each)"
  sh scripts/wine-setup.sh
  # shellcheck disable=SC2034 # read by the sourced script
  ORV_WINE_SETUP_ONLY_ENV=1
  # shellcheck source=scripts/wine-setup.sh
  . scripts/wine-setup.sh
  unset ORV_WINE_SETUP_ONLY_ENV
  set -euo pipefail

  # A private copy of the test prefix (same settings: the null graphics
  # driver, so the message box is a real window, answered by a watcher), so
  # that the benchmark neither changes the registry the tests rely on nor
  # shares a desktop with their boxes. Remade when the test prefix is.
  bench_prefix=$ORV_WINE_ROOT/bench-prefix
  if [[ ! -f $bench_prefix/.copied || $ORV_WINE_MARKER -nt $bench_prefix/.copied ]]; then
    log "copying the Wine prefix for the benchmark"
    rm -rf "$bench_prefix"
    cp -a "$ORV_WINE_PREFIX" "$bench_prefix"
    touch "$bench_prefix/.copied"
  fi
  wine_work=$ORV_WINE_ROOT/bench
  rm -rf "$wine_work"
  mkdir -p "$wine_work/programs"
  cp "$root/build/win32/WinOrvantoPatch1.exe" "$root/build/win32/bench/orv_bench_trivial.exe" \
    "$root/build/win32/bench/orv_bench_box.exe" "$root/build/win32/tests/win32/box_watcher.exe" \
    "$wine_work/programs/"
  cp -a "$work/template/Program Files/Orvanto" "$wine_work/template"
  chmod -R a+rX "$wine_work"
  chown -R "$ORV_WINE_USER:" "$wine_work"
  home=$(getent passwd "$ORV_WINE_USER" | cut -d: -f6)
  loader=/usr/lib/wine/wine
  [[ -x $loader ]] || loader=$(command -v wine)
  wine_env=(HOME="${home:-/tmp}" USER="$ORV_WINE_USER" LOGNAME="$ORV_WINE_USER"
    PATH=/usr/local/bin:/usr/bin:/bin WINEPREFIX="$bench_prefix" WINEARCH=win32 WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d" LANG=C.UTF-8)
  as_wine() {
    if [[ $(id -u) == 0 ]]; then
      runuser -u "$ORV_WINE_USER" -- env -i "${wine_env[@]}" "$@"
    else
      env -i "${wine_env[@]}" "$@"
    fi
  }
  timed_env=(--chdir "$wine_work/programs")
  [[ $(id -u) != 0 ]] || timed_env+=(--user "$ORV_WINE_USER")
  for variable in "${wine_env[@]}"; do timed_env+=(--env "$variable"); done
  # shellcheck disable=SC1003 # one backslash for tr
  winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

  # The session lives on by itself for ten minutes after its last program
  # (never stopped from here; a session still alive from an earlier run
  # makes this fail, and is used); the first program boots it, not timed.
  as_wine wineserver -p600 </dev/null >/dev/null 2>&1 || true
  as_wine "$loader" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
  as_wine "$loader" reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Quenbrite.exe' \
    /v Path /t REG_SZ /d "$(winpath "$wine_work/host/Orvanto")" /f </dev/null >/dev/null 2>&1
  boxes=$wine_work/boxes.log
  : >"$boxes"
  chown "$ORV_WINE_USER:" "$boxes"
  # The watcher ends once it has seen every box; one that does not, or a
  # benchmark that stops early, ends it (it and the processes below it,
  # never the Wine server).
  kill_below() {
    local child
    for child in $(pgrep -P "$1"); do
      kill_below "$child"
      kill -KILL "$child" 2>/dev/null || true
    done
  }
  stop_watcher() {
    if kill -0 "$watcher" 2>/dev/null; then
      kill_below "$watcher"
      kill -KILL "$watcher" 2>/dev/null || true
    fi
    wait "$watcher" 2>/dev/null || true
  }
  # Every box in this private session is the benchmark's own.
  expected=$((3 * (runs + warmup)))
  (cd "$wine_work/programs" && as_wine "$loader" box_watcher.exe --log "$(winpath "$boxes")" \
    --expect "$expected" --timeout 3600 --press ok </dev/null >/dev/null 2>&1) &
  watcher=$!
  trap stop_watcher EXIT
  until grep -q '^ready$' "$boxes"; do
    kill -0 "$watcher" 2>/dev/null || { echo "the box watcher did not start" >&2; exit 1; }
    sleep 1
  done

  wine_fresh() {
    rm -rf "$wine_work/host"
    mkdir "$wine_work/host"
    cp -a "$wine_work/template" "$wine_work/host/Orvanto"
    chown -R "$ORV_WINE_USER:" "$wine_work/host"
  }
  wine_patched() {
    [[ "$("$fileversion" "$wine_work/host/Orvanto/Pellmark/Pellmark.exe")" == 1.0.1.1 &&
      ! -e $wine_work/host/Orvanto/Pellmark_BAK && ! -e $wine_work/host/Orvanto/Pellmark_CPY ]] || {
      echo "the patch under Wine did not replace the add-in folder" >&2
      return 1
    }
  }
  for ((i = -warmup; i < runs; i++)); do
    order=(patch trivial box)
    ((i % 2 == 0)) || order=(box trivial patch)
    for side in "${order[@]}"; do
      case $side in
        patch)
          wine_fresh
          timed "$rows/wine-patch.txt" "$i" "${timed_env[@]}" -- "$loader" WinOrvantoPatch1.exe
          wine_patched
          timed "$rows/wine-not-needed.txt" "$i" "${timed_env[@]}" -- "$loader" WinOrvantoPatch1.exe
          ;;
        trivial) timed "$rows/wine-trivial.txt" "$i" "${timed_env[@]}" -- "$loader" orv_bench_trivial.exe ;;
        box) timed "$rows/wine-box.txt" "$i" "${timed_env[@]}" -- "$loader" orv_bench_box.exe ;;
      esac
    done
  done
  for ((waited = 0; waited < 60; waited++)); do
    kill -0 "$watcher" 2>/dev/null || break
    sleep 1
  done
  stop_watcher
  trap - EXIT
  succeeded=$(grep -c 'Install Succeeded\.$' "$boxes" || true)
  not_needed=$(grep -c 'There is no need to apply this patch\.$' "$boxes" || true)
  if [[ $succeeded != $((runs + warmup)) || $not_needed != $((2 * (runs + warmup))) ]]; then
    echo "under Wine: $succeeded success and $not_needed not-needed boxes," \
      "expected $((runs + warmup)) and $((2 * (runs + warmup)))" >&2
    exit 1
  fi
  trivial=$(wall_ms "$rows/wine-trivial.txt")
  box=$(wall_ms "$rows/wine-box.txt")
  full=$(wall_ms "$rows/wine-patch.txt")
  nothing=$(wall_ms "$rows/wine-not-needed.txt")
  # What a run costs beyond Wine's start-up: in ms and as a share of the run.
  share() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.0f ms (%.0f%%)", a - b, 100 * (a - b) / a}'; }
  say "3. Under Wine ($(wine --version)), against a Windows program that does nothing"
  say "   trivial exe   wall $(fmt 0 "$trivial") ms   cpu $(fmt 0 "$(cpu_ms "$rows/wine-trivial.txt")") ms   (Wine's own start-up)"
  say "   box only exe  wall $(fmt 0 "$box") ms   cpu $(fmt 0 "$(cpu_ms "$rows/wine-box.txt")") ms   (start-up, common controls and one answered box)"
  say "   full patch    wall $(fmt 0 "$full") ms   cpu $(fmt 0 "$(cpu_ms "$rows/wine-patch.txt")") ms   /trivial $(fmt 2 "$(paired "$rows/wine-patch.txt" "$rows/wine-trivial.txt" wall)")"
  say "                 beyond Wine's start-up $(share "$full" "$trivial"), beyond start-up and box $(share "$full" "$box")"
  say "   not needed    wall $(fmt 0 "$nothing") ms   cpu $(fmt 0 "$(cpu_ms "$rows/wine-not-needed.txt")") ms   /trivial $(fmt 2 "$(paired "$rows/wine-not-needed.txt" "$rows/wine-trivial.txt" wall)")"
  say "                 beyond Wine's start-up $(share "$nothing" "$trivial"), beyond start-up and box $(share "$nothing" "$box")"
  say "   (the boxes are real windows on Wine's null display, answered by a watcher that"
  say "   looks every 25 ms)"
  [[ ! -e /proc/sys/fs/binfmt_misc/orv-i386-2 ]] ||
    say "   (this kernel runs no i386 programs: Wine's 32-bit side runs under qemu-i386)"
  say ""
fi

say "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
say "goals: full patch/floor $(fmt 3 "$ratio_full") (at most 1.2: $(awk -v r="$ratio_full" 'BEGIN {print r <= 1.2 ? "met" : "NOT met"}')), not needed/true $(fmt 3 "$ratio_nn") (at most 3: $(awk -v r="$ratio_nn" 'BEGIN {print r <= 3 ? "met" : "NOT met"}')), memory growth $growth KiB (under 1024: $(awk -v g="$growth" 'BEGIN {print g < 1024 ? "met" : "NOT met"}'))${exe_bytes:+, exe beyond payload $((exe_bytes - exe_payload)) bytes (at most 204800: $([[ $((exe_bytes - exe_payload)) -le 204800 ]] && echo met || echo NOT met))}"
log "results in $results"
