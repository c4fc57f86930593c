#!/usr/bin/env bash
# The main job, as far as the program goes today: builds the native and the
# Windows build, makes a demonstration host (a launcher carrying 4.1.52.1 and
# its App Paths entry) and prints what the platform layer of each build sees
# of it: natively through the POSIX backend, and from the real Windows exe
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

for preset in native win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs" --target platform-probe >/dev/null
done
cmake --build --preset native -j"$jobs" --target pegen fileversion >/dev/null

# World-readable, so that Wine's unprivileged user can read it too.
demo=$(mktemp -d /tmp/orvanto-demo.XXXXXX)
chmod 755 "$demo"
trap 'rm -rf "$demo"' EXIT
host="$demo/Program Files/Orvanto"
mkdir -p "$host/Pellmark" "$demo/hklm/SOFTWARE/Microsoft/Windows/CurrentVersion/App Paths/Quenbrite.exe"
build/native/tools/pegen "$host/Quenbrite.exe" --exe --version 4.1.52.1 --product-version 4.1.0.0
build/native/tools/pegen "$host/Pellmark/Pellmark.exe" --exe --version 1.0.0.9 --size 40960
printf '%s' "$host" >"$demo/hklm/SOFTWARE/Microsoft/Windows/CurrentVersion/App Paths/Quenbrite.exe/Path"
chmod -R a+rX "$demo"

echo "== native build, POSIX backend"
ORVANTO_HKLM="$demo/hklm" build/native/tools/probe/platform-probe \
  "$host/Quenbrite.exe" "$host/Pellmark/Pellmark.exe"
echo
echo "== fileversion (the same reader, for patch builders)"
build/native/tools/fileversion "$host/Quenbrite.exe" "$host/Pellmark/Pellmark.exe"
echo
echo "== Windows build under Wine, Win32 backend"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
bash scripts/wine-run.sh build/win32/tools/probe/platform-probe.exe \
  "$(winpath "$host/Quenbrite.exe")" "$(winpath "$host/Pellmark/Pellmark.exe")"
