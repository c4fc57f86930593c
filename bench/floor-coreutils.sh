#!/usr/bin/env bash
# The floor's file work done with coreutils, for context beside the patch and
# the floor program: the payload is copied from the build's payload folder
# (a shell has no payload in memory), each file's time set with touch, then
# the same copy, library copies, renames and removals.
#   floor-coreutils.sh ADDIN_FOLDER TEMP_FOLDER PAYLOAD_FOLDER TABLE
# TABLE is a file holding what `install-maker table` prints (the payload's
# relative paths and local times, the kept libraries' names), read here as
# it stands, so that no program start but the file work's is timed.
set -euo pipefail
addin=$1
staging=$2/PellmarkOV
payload=$3
# shellcheck disable=SC1090 # install-maker's output
. "$4"

mkdir "$staging"
cp -R "$payload/." "$staging/"
for i in "${!ORV_PAYLOAD_PATHS[@]}"; do
  touch -m -d "${ORV_PAYLOAD_TIMES[i]}" "$staging/${ORV_PAYLOAD_PATHS[i]}"
done
cp -a "$staging" "${addin}_CPY"
cp -p "${ORV_LIBRARIES[@]/#/$addin/}" "${addin}_CPY/"
mv "$addin" "${addin}_BAK"
mv "${addin}_CPY" "$addin"
rm -rf "$staging" "${addin}_BAK"
