#!/usr/bin/env bash
# Two clean builds of the product from this tree as it stands (committed or
# not), each a copy in a folder of its own name and depth, configured with
# the win32 preset and built one after the other, so at different times:
# the two WinOrvantoPatch1.exe must be the same bytes, and each build must
# have written a WinOrvantoPatch1.exe.sha256 that sha256sum -c accepts.
#
#   reproducible.sh [PARENT-FOLDER]    (default: $TMPDIR or /tmp)
#
# Prints the time each build took and the exe's SHA-256; exits 1 when the
# builds differ, 2 when they cannot be made.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${1:-${TMPDIR:-/tmp}}/orv-reproducible-XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

# The tracked and the new files, as they are in the working tree; not the
# build folders (ignored).
git -C "$repo" rev-parse --git-dir >/dev/null 2>&1 || { echo "reproducible: $repo is no git checkout"; exit 2; }
copy_tree() {
  mkdir -p "$1" &&
    git -C "$repo" ls-files -z --cached --others --exclude-standard |
    tar -C "$repo" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$1" -xf -
}

# build_once SOURCE: prints the seconds it took; the log beside SOURCE.
build_once() {
  local src=$1 start=$SECONDS
  copy_tree "$src" || return 1
  (cd "$src" && cmake --preset win32 -DORVANTO_TESTS=OFF &&
    cmake --build --preset win32 --target WinOrvantoPatch1 -j2) >"$src.log" 2>&1 ||
    { tail -n 30 "$src.log" >&2; return 1; }
  echo $((SECONDS - start))
}

exe=build/win32/WinOrvantoPatch1.exe
first=$work/a
second=$work/second-build-in-a-longer-folder/tree
t1=$(build_once "$first") || { echo "reproducible: the first build failed"; exit 2; }
t2=$(build_once "$second") || { echo "reproducible: the second build failed"; exit 2; }

status=0
for src in "$first" "$second"; do
  (cd "$src/$(dirname "$exe")" && sha256sum --quiet -c "$(basename "$exe").sha256") ||
    { echo "FAIL $src: no $exe.sha256 that matches the exe"; status=1; }
done
if cmp -s "$first/$exe" "$second/$exe"; then
  echo "PASS the two builds are byte-identical: $(sha256sum <"$first/$exe" | cut -d' ' -f1)"
else
  echo "FAIL the two builds differ in $(cmp -l "$first/$exe" "$second/$exe" | wc -l) bytes; first offsets (1-based, octal values):"
  cmp -l "$first/$exe" "$second/$exe" | head -n 8
  status=1
fi
echo "reproducible: builds took ${t1} s and ${t2} s"
exit "$status"
