#!/usr/bin/env bash
# Our PE version reader against pefile: generated fixtures and every PE file
# Wine installs. Exits non-zero on any disagreement.
#   scripts/pe-agreement.sh [--fileversion PATH] [--pegen PATH]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
fileversion=$root/build/native/tools/fileversion
pegen=$root/build/native/tools/pegen
while [[ $# -gt 0 ]]; do
  case $1 in
    --fileversion) fileversion=${2:?}; shift 2 ;;
    --pegen) pegen=${2:?}; shift 2 ;;
    *) echo "usage: $0 [--fileversion PATH] [--pegen PATH]" >&2; exit 2 ;;
  esac
done
for tool in "$fileversion" "$pegen"; do
  [[ -x $tool ]] || { echo "$0: $tool is missing: cmake --build build/native --target fileversion pegen" >&2; exit 2; }
done

folders=()
for folder in /usr/lib/i386-linux-gnu/wine /usr/lib/x86_64-linux-gnu/wine; do
  [[ -d $folder ]] && folders+=("$folder")
done
# Debian's python3 is the one that sees python3-pefile.
exec /usr/bin/python3 "$root/tests/pe/pe_agreement.py" --fileversion "$fileversion" \
  --pegen "$pegen" "${folders[@]}"
