#!/usr/bin/env bash
# The performance benchmark (not a test; scripts/test.sh does not run it).
# Measures, in one run on one machine, each figure beside its yardstick (see
# docs/performance.md): a full native patch against the floor
# (bench/floor.cpp) and coreutils, a run with nothing to do against
# /bin/true, callgrind's instruction counts for both, peak memory with a
# payload ten times larger, the PE reader against python3-pefile, the exe's
# size beyond its payload, and both runs of the Windows exe under Wine
# against a Windows program that does nothing.
#
#   bash scripts/bench.sh [--runs N] [--no-wine]
#
# N defaults to 21. Every timed run is one process started by
# bench/run_once.cpp; the two sides of a ratio run in turn (A B, B A, ...).
# The rows of every run go to build/bench/rows/, the report (bench/report.py)
# to build/bench/results.txt. The Wine part waits (up to ORV_BENCH_WINE_WAIT
# seconds, default 1800) until no test's Wine program runs, and tests wait
# for it in turn (the lock wine-run.sh holds while it runs a program).
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

native=$root/build/native
work=$root/build/bench
rows=$work/rows
run=$native/bench/orv_bench_run
pegen=$native/tools/pegen
rm -rf "$work/run" "$rows"
mkdir -p "$work/run" "$rows"
facts=$work/facts.txt
: >"$facts"
fact() { printf '%s %s\n' "$1" "$2" >>"$facts"; }

# --- Builds: the native and win32 presets, and bench-payload10x: the program
# and the floor with the same payload files at ten times the table's sizes.

log "building"
cmake --preset native >/dev/null
cmake --build --preset native --target WinOrvantoPatch1 pegen fileversion install-maker \
  orv_bench_run orv_bench_floor orv_bench_pe_rate >/dev/null
install_maker=$native/tools/install-maker
table=$work/table.sh
"$install_maker" table >"$table"
# shellcheck disable=SC1090 # install-maker's output
. "$table"
big_payload=$work/payload10x  # where the bench-payload10x preset looks
if ! cmp -s "$table" "$big_payload/.table"; then
  rm -rf "$big_payload"
  for i in "${!ORV_PAYLOAD_PATHS[@]}"; do
    file=$big_payload/${ORV_PAYLOAD_PATHS[i]}
    mkdir -p "$(dirname "$file")"
    [[ $file == *.exe ]] && exe=(--exe) || exe=()
    "$pegen" "$file" --version "$ORV_PAYLOAD_VERSION" --size $((ORV_PAYLOAD_SIZES[i] * 10)) "${exe[@]}"
  done
  cp "$table" "$big_payload/.table"
fi
cmake --preset bench-payload10x >/dev/null
cmake --build --preset bench-payload10x >/dev/null
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target WinOrvantoPatch1 orv_bench_trivial orv_bench_box box_watcher >/dev/null
big_build=$root/build/bench-payload10x

# --- Timed runs -------------------------------------------------------------

# timed FILE I OPTIONS... -- PROGRAM...: one run through orv_bench_run, its
# row appended to FILE unless it is a warm-up (I < 0); fails on a non-zero
# exit code. Descriptor 9 (the Wine lock) stays with this script.
timed() {
  local file=$1 i=$2 row
  shift 2
  row=$("$run" "$@" 9>&-)
  [[ ${row##* } == 0 ]] || { echo "timed run failed (exit ${row##* }): $*" >&2; return 1; }
  [[ $i -lt 0 ]] || printf '%s\n' "$row" >>"$file"
}

# pairs EVEN ODD: for each I from -warmup, runs side_A I, side_B I, ... for
# each A, B, ... of the list EVEN when I is even, of ODD when it is odd.
pairs() {
  local i side order
  for ((i = -warmup; i < runs; i++)); do
    order=$1
    ((i % 2 == 0)) || order=$2
    for side in $order; do "side_$side" "$i"; done
  done
}

# --- Demonstration installations (install-maker) ----------------------------

# The template is made where the patch runs, so that its registry entry
# points there; every run gets a fresh copy of it (not timed).
rm -rf "$work/template" "$work/current" "$work/run/patch"
"$install_maker" posix "$work/run/patch"
mv "$work/run/patch" "$work/template"
"$install_maker" posix "$work/current" --addin-version "$ORV_PAYLOAD_VERSION"
fresh() { rm -rf "$work/run/$1" && cp -a "$work/template" "$work/run/$1"; }
addin() { printf '%s' "$work/run/$1/Program Files/Orvanto/Pellmark"; }
# Names, sizes, times and contents below the host folder of run SIDE.
tree_of() {
  (cd "$work/run/$1/Program Files/Orvanto" && find . -mindepth 1 -printf '%y %p %s %T@\n' |
    grep -v '^d' | LC_ALL=C sort && find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)
}

# patch_with FILE I BUILD [ARGS...]
patch_with() {
  fresh patch
  timed "$1" "$2" --env "ORVANTO_HKLM=$work/run/patch/hklm" --env "TMPDIR=$work/run/patch/tmp" \
    --stdout "$work/run/patch.out" -- "$3/WinOrvantoPatch1" "${@:4}"
  grep -qx '\[information\] Install Succeeded.' "$work/run/patch.out" ||
    { echo "the patch did not succeed:" >&2; cat "$work/run/patch.out" >&2; return 1; }
}
floor_with() {
  fresh floor
  timed "$1" "$2" -- "$3/bench/orv_bench_floor" "$(addin floor)" "$work/run/floor/tmp"
}
side_patch() { patch_with "$rows/patch.txt" "$1" "$native"; }
# The cost of the log: the same patch writing one (outside the installation).
side_patchlog() { patch_with "$rows/patch-log.txt" "$1" "$native" /log "$work/run/patch.log"; }
side_floor() { floor_with "$rows/floor.txt" "$1" "$native"; }
side_coreutils() {
  fresh coreutils
  timed "$rows/coreutils.txt" "$1" --env PATH=/usr/bin:/bin -- /bin/bash "$root/bench/floor-coreutils.sh" \
    "$(addin coreutils)" "$work/run/coreutils/tmp" "$native/payload" "$table"
}
side_current() {
  timed "$rows/not-needed.txt" "$1" --env "ORVANTO_HKLM=$work/current/hklm" \
    --env "TMPDIR=$work/current/tmp" --stdout "$work/run/current.out" -- "$native/WinOrvantoPatch1"
  grep -qx '\[information\] There is no need to apply this patch.' "$work/run/current.out"
}
side_quiet() {
  timed "$rows/not-needed-quiet.txt" "$1" --env "ORVANTO_HKLM=$work/current/hklm" \
    --env "TMPDIR=$work/current/tmp" --stdout "$work/run/quiet.out" -- "$native/WinOrvantoPatch1" /quiet
  [[ ! -s $work/run/quiet.out ]]
}
side_true() { timed "$rows/true.txt" "$1" -- /bin/true; }
side_patch10x() { patch_with "$rows/patch-10x.txt" "$1" "$big_build"; }
side_floor10x() { floor_with "$rows/floor-10x.txt" "$1" "$big_build"; }

# The three do the same work: the same files, sizes, times and bytes.
side_patch -1
side_floor -1
side_coreutils -1
patch_tree=$(tree_of patch)
if [[ $patch_tree != "$(tree_of floor)" ]] || [[ $patch_tree != "$(tree_of coreutils)" ]]; then
  echo "the patch, the floor and the coreutils script left different add-in folders" >&2
  exit 1
fi

fact started "$(date -u +%FT%TZ)"
fact runs "$runs"
fact warmup "$warmup"
fact machine "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores, \
$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(uname -sr), \
work folder on $(df -T "$work" | awk 'NR == 2 {print $2}')"
fact load_start "$(cut -d' ' -f1-3 /proc/loadavg)"

log "1. full patch, floor and coreutils ($runs runs each)"
pairs "patch floor patchlog coreutils" "floor patch patchlog coreutils"
log "2. not needed and /bin/true ($runs runs each)"
pairs "current true quiet" "true current quiet"
log "4. the payload ten times larger ($runs runs each)"
pairs "patch10x floor10x" "floor10x patch10x"

# Callgrind: instructions of one run with exactly the environment NAME=VALUE...
# given before the program (as the timed runs have).
log "callgrind: instruction counts"
instructions() {
  local out=$work/run/callgrind.out variables=()
  while [[ $1 == *=* ]]; do variables+=("$1"); shift; done
  rm -f "$out"
  env -i "${variables[@]}" "$(command -v valgrind)" --tool=callgrind --callgrind-out-file="$out" "$@" \
    </dev/null >/dev/null 2>&1
  awk '/^(summary|totals):/ {print $2; exit}' "$out"
}
fresh patch
fact ir_patch "$(instructions "ORVANTO_HKLM=$work/run/patch/hklm" "TMPDIR=$work/run/patch/tmp" \
  "$native/WinOrvantoPatch1")"
[[ -n $(find "$(addin patch)" -name Pellmark35.exe -size +800k) ]] ||
  { echo "the patch under callgrind did not succeed" >&2; exit 1; }
fresh floor
fact ir_floor "$(instructions "$native/bench/orv_bench_floor" "$(addin floor)" "$work/run/floor/tmp")"
fact ir_not_needed "$(instructions "ORVANTO_HKLM=$work/current/hklm" "TMPDIR=$work/current/tmp" \
  "$native/WinOrvantoPatch1")"
fact ir_true "$(instructions /bin/true)"

payload_bytes() { find "$1" -type f ! -name '.*' -printf '%s\n' | awk '{s += $1} END {print s}'; }
fact payload_bytes "$(payload_bytes "$native/payload")"
fact payload10x_bytes "$(payload_bytes "$big_payload")"
fact exe_bytes "$(stat -c %s build/win32/WinOrvantoPatch1.exe)"
fact exe_payload_bytes "$(payload_bytes build/win32/payload)"

log "5. file versions per second ($runs passes each)"
pe_list=$work/run/pe-files.txt
find /usr/lib/i386-linux-gnu/wine /usr/lib/x86_64-linux-gnu/wine -type f -print0 2>/dev/null |
  LC_ALL=C sort -z | while IFS= read -r -d '' file; do
  LC_ALL=C read -r -n 2 magic <"$file" || true
  [[ $magic != MZ ]] || printf '%s\n' "$file"
done >"$pe_list"
fact pe_files "$(wc -l <"$pe_list")"
"$native/bench/orv_bench_pe_rate" "$runs" "$pe_list" >"$rows/pe-native.txt"
/usr/bin/python3 bench/pe_rate.py "$runs" "$pe_list" >"$rows/pe-pefile.txt"

# --- 3. Under Wine ------------------------------------------------------------

wine_part() {
  ORV_REPO=$root
  # shellcheck source=tests/e2e/lib.sh
  . tests/e2e/lib.sh
  orv_e2e_init || return 1
  set -euo pipefail
  # Every test's program holds this lock shared while it runs (wine-run.sh).
  exec 9>"$ORV_WINE_ROOT/run/programs.lock"
  log "waiting until no other Wine program runs"
  if ! flock -x -w "${ORV_BENCH_WINE_WAIT:-1800}" 9; then
    fact wine_skipped "other Wine tests kept running for ${ORV_BENCH_WINE_WAIT:-1800} s"
    return 0
  fi
  log "3. under Wine ($runs runs each)"
  # A private copy of the test prefix (the same settings: boxes are real
  # windows, answered by a watcher), so that the benchmark neither changes the
  # registry the tests rely on nor shares a desktop with their boxes. Remade
  # when the test prefix is.
  local bench_prefix=$ORV_WINE_ROOT/bench-prefix
  if [[ ! -f $bench_prefix/.copied || $ORV_WINE_MARKER -nt $bench_prefix/.copied ]]; then
    log "copying the Wine prefix for the benchmark"
    rm -rf "$bench_prefix"
    cp -a "$ORV_WINE_PREFIX" "$bench_prefix"
    touch "$bench_prefix/.copied"
  fi
  ORV_WINE_PREFIX=$bench_prefix
  wine_work=$ORV_WINE_ROOT/bench
  rm -rf "$wine_work"
  mkdir -p "$wine_work/programs" "$wine_work/host"
  cp "$ORV_E2E_EXE" build/win32/bench/orv_bench_trivial.exe build/win32/bench/orv_bench_box.exe \
    "$ORV_E2E_WATCHER" "$wine_work/programs/"
  cp -a "$work/template/Program Files/Orvanto" "$wine_work/template"
  orv_e2e_give "$wine_work"
  # The session lives on by itself for ten minutes after its last program
  # (never stopped from here); setting the registry boots it, not timed.
  orv_wine_env wineserver -p600 </dev/null >/dev/null 2>&1 || true
  orv_e2e_set_registry "$wine_work/host/Orvanto"

  # The timed runs: the Wine loader itself, with the environment and the
  # user every Wine call gets.
  local loader=/usr/lib/wine/wine variable
  [[ -x $loader ]] || loader=$(command -v wine)
  wine_run=(--chdir "$wine_work/programs")
  [[ $(id -u) != 0 ]] || wine_run+=(--user "$ORV_WINE_USER")
  while IFS= read -r variable; do wine_run+=(--env "$variable"); done < <(orv_wine_env /usr/bin/env)

  # Every box in this private session is the benchmark's own.
  local boxes=$wine_work/boxes.log
  : >"$boxes"
  orv_e2e_give "$boxes"
  (cd "$wine_work/programs" && orv_wine_env "$loader" box_watcher.exe --log "$(orv_e2e_winpath "$boxes")" \
    --expect $((3 * (runs + warmup))) --timeout 3600 --press ok </dev/null >/dev/null 2>&1) &
  watcher=$!
  trap 'orv_e2e_finish "$wine_work" "$watcher"; kill "$watcher" 2>/dev/null || true' EXIT
  orv_e2e_wait_for "$boxes" '^ready$' "$ORV_E2E_LAUNCH_SECONDS" "$watcher" ||
    { echo "the box watcher did not start" >&2; return 1; }

  local host=$wine_work/host/Orvanto
  side_wine() {
    rm -rf "$host"
    cp -a "$wine_work/template" "$host"
    orv_e2e_give "$host"
    timed "$rows/wine-patch.txt" "$1" "${wine_run[@]}" -- "$loader" WinOrvantoPatch1.exe
    [[ $("$ORV_E2E_FILEVERSION" "$host/Pellmark/Pellmark.exe") == "$ORV_PAYLOAD_VERSION" &&
      ! -e ${host}/Pellmark_BAK && ! -e ${host}/Pellmark_CPY ]] ||
      { echo "the patch under Wine did not replace the add-in folder" >&2; return 1; }
    timed "$rows/wine-not-needed.txt" "$1" "${wine_run[@]}" -- "$loader" WinOrvantoPatch1.exe
  }
  side_trivial() { timed "$rows/wine-trivial.txt" "$1" "${wine_run[@]}" -- "$loader" orv_bench_trivial.exe; }
  side_box() { timed "$rows/wine-box.txt" "$1" "${wine_run[@]}" -- "$loader" orv_bench_box.exe; }
  pairs "wine trivial box" "box trivial wine"
  orv_e2e_wait "$watcher" 60 || true
  exec 9>&-
  local succeeded not_needed
  succeeded=$(grep -c 'Install Succeeded\.$' "$boxes" || true)
  not_needed=$(grep -c 'There is no need to apply this patch\.$' "$boxes" || true)
  if [[ $succeeded != $((runs + warmup)) || $not_needed != $((2 * (runs + warmup))) ]]; then
    echo "under Wine: $succeeded success and $not_needed not-needed boxes," \
      "expected $((runs + warmup)) and $((2 * (runs + warmup)))" >&2
    return 1
  fi
  fact wine_version "$(wine --version)"
  [[ ! -e /proc/sys/fs/binfmt_misc/orv-i386-2 ]] || fact qemu 1
}
if [[ $wine == 1 ]]; then wine_part; fi

fact load_end "$(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 bench/report.py "$work"
log "results in $work/results.txt"
