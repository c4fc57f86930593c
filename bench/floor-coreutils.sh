#!/usr/bin/env bash
# The floor's file work done with coreutils, for context beside the patch and
# the floor program: the payload is copied from the build's payload folder
# (a shell has no payload in memory), each file's time set with touch, then
# the same copy, library copies, renames and removals.
#   floor-coreutils.sh ADDIN_FOLDER TEMP_FOLDER PAYLOAD_FOLDER TABLE
# TABLE is patch/payload.tsv (relative paths, local times, library names).
set -euo pipefail
addin=$1
staging=$2/PellmarkOV
payload=$3
table=$4

mkdir "$staging"
cp -R "$payload/." "$staging/"
libraries=()
while IFS=$'\t' read -r kind _ path time _; do
  case $kind in
    payload) touch -m -d "$time" "$staging/${path//\\//}" ;;
    library) libraries+=("$addin/$path") ;;
  esac
done <"$table"
cp -a "$staging" "${addin}_CPY"
cp -p "${libraries[@]}" "${addin}_CPY/"
mv "$addin" "${addin}_BAK"
mv "${addin}_CPY" "$addin"
rm -rf "$staging" "${addin}_BAK"
