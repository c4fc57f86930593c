#!/usr/bin/env bash
# Fuzzes the PE version reader with libFuzzer (clang, address and undefined
# behaviour sanitizers), from a corpus seeded with generated images.
#   scripts/fuzz.sh            about 30 seconds
#   scripts/fuzz.sh SECONDS    that long
#   scripts/fuzz.sh --runs N   exactly N inputs
set -euo pipefail

usage() { echo "usage: $0 [SECONDS | --runs N]" >&2; exit 2; }
limit=(-max_total_time=30)
case $# in
  0) ;;
  1) [[ $1 =~ ^[1-9][0-9]*$ ]] || usage; limit=(-max_total_time="$1") ;;
  2) [[ $1 == --runs && $2 =~ ^[1-9][0-9]*$ ]] || usage; limit=(-runs="$2") ;;
  *) usage ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/fuzz
mkdir -p "$out/corpus" "$out/seeds"
cxx=${CXX_FUZZ:-clang++}
flags=(-std=c++20 -O1 -g -Wall -Wextra -Werror -I"$root")

"$cxx" "${flags[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  "$root/tests/pe/fuzz_pe_version.cpp" "$root/platform/pe_version.cpp" \
  "$root/platform/file_version.cpp" -o "$out/fuzz_pe_version"
"$cxx" "${flags[@]}" "$root/tools/pegen/pegen_main.cpp" "$root/tools/pegen/pe_generator.cpp" \
  "$root/platform/file_version.cpp" -o "$out/pegen"

# Seeds: every kind of image the generator makes, small enough to mutate well.
seed() { "$out/pegen" "$out/seeds/$1" "${@:2}"; }
seed dll.dll
seed exe.exe --exe --version 4.1.52.1
seed dll64.dll --pe32plus --version 65535.65535.65535.65535
seed exe64.exe --pe32plus --exe --product-version 4.2.0.0
seed none.dll --no-version
seed id2.dll --resource-id 2
seed id16.dll --resource-id 16
seed padded.exe --exe --size 4000

log=$out/fuzz.log
status=0
(cd "$out" && ./fuzz_pe_version "${limit[@]}" -max_len=4096 -timeout=10 -print_final_stats=1 \
  corpus seeds) >"$log" 2>&1 || status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
if [[ $status -ne 0 || -z $runs ]]; then
  tail -n 40 "$log" >&2
  echo "fuzz: FAILED (exit $status), log in $log" >&2
  exit 1
fi
echo "fuzz: $runs inputs run, no failure (corpus $(ls "$out/corpus" | wc -l) files, log $log)"
