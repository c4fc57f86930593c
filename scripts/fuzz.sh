#!/usr/bin/env bash
# Fuzzes with libFuzzer (clang, address and undefined behaviour sanitizers):
#   pe_version     the PE version reader, from images the generator makes
#   registry_read  the POSIX backend's registry read, the input being the
#                  value file and the request's shape (see the target's
#                  tests/posix/fuzz_registry_read.cpp)
# Each target keeps its corpus in build/fuzz/<target>/corpus, so runs build
# on each other.
#
#   scripts/fuzz.sh                  30 seconds per target (scripts/test.sh)
#   scripts/fuzz.sh --long           5 minutes per target
#   scripts/fuzz.sh SECONDS          that long per target
#   scripts/fuzz.sh --runs N         exactly N inputs per target
#   ... --only TARGET                one target instead of both
#
# Prints one line per target: "fuzz <target>: N inputs run, no failure ...".
# A failure prints the end of the log and the input that failed (an
# artifact to reproduce with build/fuzz/<target>/fuzz_<target> ARTIFACT).
set -euo pipefail

usage() {
  echo "usage: $0 [SECONDS | --long | --runs N] [--only pe_version|registry_read]" >&2
  exit 2
}
limit=(-max_total_time=30)
targets=(pe_version registry_read)
while [ $# -gt 0 ]; do
  case $1 in
    --long) limit=(-max_total_time=300) ;;
    --runs)
      [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage
      limit=(-runs="$2")
      shift
      ;;
    --only)
      [[ ${2:-} == pe_version || ${2:-} == registry_read ]] || usage
      targets=("$2")
      shift
      ;;
    *)
      [[ $1 =~ ^[1-9][0-9]*$ ]] || usage
      limit=(-max_total_time="$1")
      ;;
  esac
  shift
done

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/fuzz
cxx=${CXX_FUZZ:-clang++}
flags=(-std=c++20 -O1 -g -Wall -Wextra -Werror -I"$root")
# shellcheck disable=SC2054 # one flag with a comma-separated list
sanitize=(-fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)

posix_backend=(
  platform/framework.cpp platform/file_ops.cpp platform/file_version.cpp platform/pe_version.cpp
  platform/registry_time.cpp platform/posix/file_ops.cpp platform/posix/file_version.cpp
  platform/posix/registry_time.cpp platform/posix/framework.cpp platform/posix/system.cpp
  platform/posix/resources.cpp
)

# Builds BIN with the extra flags EXTRA from the sources (relative to the
# tree), unless it is newer than everything it could depend on.
build() {
  local bin=$1 extra=$2
  shift 2
  local newer
  newer=$(find "$root/platform" "$root/patch" "$root/tools/pegen" "$root/tests/pe" \
    "$root/tests/posix" "$root/scripts/fuzz.sh" -newer "$bin" -print -quit 2>/dev/null || true)
  if [ -x "$bin" ] && [ -z "$newer" ]; then return 0; fi
  local sources=()
  for f in "$@"; do sources+=("$root/$f"); done
  # shellcheck disable=SC2086 # extra is a word list on purpose
  "$cxx" "${flags[@]}" $extra "${sources[@]}" -o "$bin"
}

mkdir -p "$out"/{pe_version,registry_read}/{corpus,seeds}
for t in "${targets[@]}"; do
  case $t in
    pe_version)
      {
        build "$out/pe_version/fuzz_pe_version" "${sanitize[*]}" tests/pe/fuzz_pe_version.cpp \
          platform/pe_version.cpp platform/file_version.cpp &&
          build "$out/pegen" "" tools/pegen/pegen_main.cpp tools/pegen/pe_generator.cpp \
            platform/file_version.cpp
      } &
      ;;
    registry_read)
      build "$out/registry_read/fuzz_registry_read" "${sanitize[*]}" \
        tests/posix/fuzz_registry_read.cpp "${posix_backend[@]}" &
      ;;
  esac
done
built=0
for job in $(jobs -p); do wait "$job" || built=1; done
[ "$built" = 0 ] || { echo "fuzz: the targets did not build" >&2; exit 1; }

# PE seeds: every kind of image the generator makes, small enough to mutate
# well.
seed_pe() { "$out/pegen" "$out/pe_version/seeds/$1" "${@:2}"; }
make_pe_seeds() {
  seed_pe dll.dll
  seed_pe exe.exe --exe --version 4.1.52.1
  seed_pe dll64.dll --pe32plus --version 65535.65535.65535.65535
  seed_pe exe64.exe --pe32plus --exe --product-version 4.2.0.0
  seed_pe none.dll --no-version
  seed_pe id2.dll --resource-id 2
  seed_pe id16.dll --resource-id 16
  seed_pe padded.exe --exe --size 4000
}

# Registry seeds: three bytes shaping the request (all zero: the discovery's
# own request of "Path" under the host's key with 520 bytes), then the value.
# shellcheck disable=SC2059 # the seed is written as a printf format
seed_reg() { printf "$2" >"$out/registry_read/seeds/$1"; }
repeat() { head -c "$2" /dev/zero | tr '\0' "$1"; }
make_registry_seeds() {
  local s=$out/registry_read/seeds
  seed_reg unix-path '\0\0\0/opt/Orvanto Host'
  seed_reg wine-path '\0\0\0Z:\\home\\user\\Program Files\\Orvanto'
  # shellcheck disable=SC1003 # a backslash at the end of the path
  seed_reg trailing-sep '\0\0\0C:\\Program Files (x86)\\Orvanto\\'
  seed_reg non-ascii '\0\0\0/opt/Orvanto/\xe6\x97\xa5\xe6\x9c\xac \xc3\x9cml\xc3\xa4ut'
  seed_reg astral '\0\0\0/opt/\xf0\x9f\x93\x81/Orvanto'
  seed_reg empty-value '\0\0\0'
  : >"$s/empty-input"
  seed_reg latin1 '\0\0\0/opt/Caf\xe9'
  seed_reg bad-bytes '\0\0\0\xff\xfe\x80\xc0\xaf\xe6\x97'
  seed_reg surrogates '\0\0\0\xed\xa0\x80\xed\xb0\x80|\xed\xa0\x80|\xed\xbf\xbf'
  seed_reg embedded-nul '\0\0\0/opt/host\0tail'
  seed_reg newline '\0\0\0/opt/host\n'
  seed_reg size-query '\x03\0\0/opt/Orvanto Host'
  seed_reg small-buffer '\x01\x10\0/opt/Orvanto Host'
  seed_reg other-type '\x0c\0\0/opt/Orvanto Host'
  seed_reg unicode-name '\0\0\x07/opt/host'
  seed_reg climbing-key '\0\0\xa0/opt/outside'
  seed_reg fifo '\0\0\x0b'
  { printf '\0\0\0'; repeat p 259; } >"$s/fits-exactly"
  { printf '\0\0\0'; repeat p 260; } >"$s/one-too-long"
  { printf '\x02\xff\0'; repeat q 5000; } >"$s/long-chunks"
  { printf '\x02\x80\0'; for _ in $(seq 400); do printf '\xe6\x97\xa5'; done; } >"$s/long-cjk"
}

status=0
for t in "${targets[@]}"; do
  dir=$out/$t
  case $t in
    pe_version) make_pe_seeds && max_len=4096 ;;
    registry_read) make_registry_seeds && max_len=12000 ;;
  esac
  log=$dir/fuzz.log
  mkdir -p "$dir/tmp"
  run=0
  start=$SECONDS
  # The registry target makes its folder tree under TMPDIR: one left behind
  # by a crash stays in the build folder.
  (cd "$dir" && TMPDIR=$dir/tmp "./fuzz_$t" "${limit[@]}" -max_len="$max_len" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$dir/" corpus seeds) >"$log" 2>&1 || run=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [[ $run -ne 0 || -z $runs ]]; then
    tail -n 40 "$log" >&2
    echo "fuzz $t: FAILED (exit $run), log in $log" >&2
    status=1
    continue
  fi
  took=$((SECONDS - start))
  echo "fuzz $t: $runs inputs run, no failure (${took} s, about $((runs / (took > 0 ? took : 1)))" \
    "per second, corpus $(find "$dir/corpus" -type f | wc -l) files, log $log)"
done
exit "$status"
