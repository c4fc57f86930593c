#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine:
# compilers and CMake, GoogleTest sources, MinGW-w64 (i686), Wine with 32-bit
# support, clang's fuzzer runtime, valgrind, python3-pefile, osslsigncode and
# openssl (signing, and the certificates its tests make). Safe to run again:
# it installs only what is missing. The one place that installs packages:
#
#   install-deps.sh              everything above that is missing
#   install-deps.sh PACKAGE...   those packages, where not installed
#
# apt-get update is tried three times, ORV_APT_RETRY_PAUSE seconds apart
# (default 10). When an index still cannot be read, the install goes on with
# the lists apt has; should it then fail, a paragraph names that index.
set -euo pipefail

missing=()
have() { command -v "$1" >/dev/null 2>&1; }
pkg_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if [ $# -gt 0 ]; then
  for package in "$@"; do pkg_installed "$package" || missing+=("$package"); done
else
  have cmake || missing+=(cmake)
  have g++ || missing+=(g++)
  have make || missing+=(make)
  have clang++ || missing+=(clang)
  have clang-format || missing+=(clang-format)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  pkg_installed libclang-rt-14-dev || missing+=(libclang-rt-14-dev)
  have valgrind || missing+=(valgrind)
  have i686-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
  /usr/bin/python3 -c 'import pefile' >/dev/null 2>&1 || missing+=(python3-pefile)
  have osslsigncode || missing+=(osslsigncode)
  have openssl || missing+=(openssl)
  # Where the kernel cannot run i386 programs, scripts/wine-setup.sh brings
  # the emulator Wine's 32-bit loader needs.
  { have wine && pkg_installed wine32:i386 && pkg_installed wine64; } || missing+=(wine wine32:i386 wine64)
fi
[ ${#missing[@]} -gt 0 ] || exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

case " ${missing[*]}" in *:i386*) $SUDO dpkg --add-architecture i386 ;; esac
echo "installing: ${missing[*]}"

# apt's words about each try go to this file as well as to the terminal.
said=$(mktemp)
trap 'rm -f "$said"' EXIT
updated=0
for try in 1 2 3; do
  if $SUDO apt-get update -q 2>&1 | tee "$said"; then
    updated=1
    break
  fi
  [ "$try" = 3 ] || {
    echo "apt-get update failed (try $try of 3); trying again in ${ORV_APT_RETRY_PAUSE:-10} s" >&2
    sleep "${ORV_APT_RETRY_PAUSE:-10}"
  }
done
[ "$updated" = 1 ] || echo "apt-get update failed three times; going on with the package lists there are" >&2

$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" && exit 0
[ "$updated" = 0 ] || exit 1
# "E: Failed to fetch URL  reason" (W: in some versions of apt).
failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)/\1 (\2)/p' "$said" | head -n 3)
[ -n "$failed" ] || failed="an index of the package registry (apt's words are above)"
cat >&2 <<TEXT

The install failed after apt-get update could not read $failed.
That index, as the mirror served it, did not match the signed Release file that names it (a mirror being
synced does this; it has lasted over a day), so apt ignored it and went on with the lists it had: those may be
old or missing, and packages that must match each other's versions (wine32:i386 and its amd64 libraries) then
cannot be installed. Wait and run this again. Or, on a machine of your own, fetch that file with curl from
the address above and decompress it into apt's list of the same name (xz -dc Packages.xz >
/var/lib/apt/lists/<that list's name>), then run this again: that skips apt's check of the index against the
signed Release file, so it is not done here.
TEXT
exit 1
