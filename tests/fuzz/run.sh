#!/usr/bin/env bash
# One bounded libFuzzer run (a CTest test of the fuzz preset):
#
#   run.sh NAME FUZZER DIR SECONDS PEGEN
#
# NAME is pe_version (the PE version reader, seeded with every kind of image
# the generator PEGEN makes) or registry_read (the POSIX backend's registry
# read: three bytes shaping the request, then the value file; see
# tests/posix/fuzz_registry_read.cpp). DIR keeps the corpus across runs, the
# seeds, the log and any failing input. ORV_FUZZ_SECONDS in the environment
# replaces SECONDS.
#
# Prints "fuzz NAME: N inputs run, no failure ..."; on a failure the end of
# the log and where the failing input is.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 NAME FUZZER DIR SECONDS PEGEN" >&2; exit 2; }
name=$1 fuzzer=$2 dir=$3 seconds=${ORV_FUZZ_SECONDS:-$4} pegen=$5
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "fuzz $name: no valid time: $seconds" >&2; exit 2; }
seeds=$dir/seeds
rm -rf "$seeds" "$dir/tmp"
mkdir -p "$dir/corpus" "$seeds" "$dir/tmp"

# PE seeds: every kind of image the generator makes, small enough to mutate
# well.
seed_pe() { "$pegen" "$seeds/$1" "${@:2}" >/dev/null; }
make_pe_version_seeds() {
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
seed_reg() { printf "$2" >"$seeds/$1"; }
repeat() { head -c "$2" /dev/zero | tr '\0' "$1"; }
make_registry_read_seeds() {
  seed_reg unix-path '\0\0\0/opt/Orvanto Host'
  seed_reg wine-path '\0\0\0Z:\\home\\user\\Program Files\\Orvanto'
  # shellcheck disable=SC1003 # a backslash at the end of the path
  seed_reg trailing-sep '\0\0\0C:\\Program Files (x86)\\Orvanto\\'
  seed_reg non-ascii '\0\0\0/opt/Orvanto/\xe6\x97\xa5\xe6\x9c\xac \xc3\x9cml\xc3\xa4ut'
  seed_reg astral '\0\0\0/opt/\xf0\x9f\x93\x81/Orvanto'
  seed_reg empty-value '\0\0\0'
  : >"$seeds/empty-input"
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
  { printf '\0\0\0'; repeat p 259; } >"$seeds/fits-exactly"
  { printf '\0\0\0'; repeat p 260; } >"$seeds/one-too-long"
  { printf '\x02\xff\0'; repeat q 5000; } >"$seeds/long-chunks"
  { printf '\x02\x80\0'; for _ in $(seq 400); do printf '\xe6\x97\xa5'; done; } >"$seeds/long-cjk"
}

case $name in
  pe_version) make_pe_version_seeds && max_len=4096 ;;
  registry_read) make_registry_read_seeds && max_len=12000 ;;
  *) echo "fuzz: no such target: $name" >&2; exit 2 ;;
esac

log=$dir/fuzz.log
status=0
start=$SECONDS
# The registry target makes its folder tree under TMPDIR: one left behind by
# a crash stays in DIR.
(cd "$dir" && TMPDIR=$dir/tmp "$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$dir/" corpus seeds) >"$log" 2>&1 || status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
if [[ $status -ne 0 || -z $runs ]]; then
  tail -n 40 "$log"
  echo "fuzz $name: FAILED (exit $status), log in $log; failing input, if any, in $dir"
  exit 1
fi
took=$((SECONDS - start))
echo "fuzz $name: $runs inputs run, no failure (${took} s, about $((runs / (took > 0 ? took : 1)))" \
  "per second, corpus $(find "$dir/corpus" -type f | wc -l) files, log $log)"
