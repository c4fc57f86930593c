#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine:
# compilers and CMake, GoogleTest sources, MinGW-w64 (i686), Wine with 32-bit
# support, clang's fuzzer runtime, valgrind, python3-pefile, osslsigncode and
# openssl (signing, and the certificates its tests make). Safe to run again:
# it installs only what is missing.
set -euo pipefail

missing=()
have() { command -v "$1" >/dev/null 2>&1; }
pkg_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

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
need_wine=0
{ have wine && pkg_installed wine32:i386 && pkg_installed wine64; } || need_wine=1

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# Where the kernel cannot run i386 programs, scripts/wine-setup.sh brings the
# emulator Wine's 32-bit loader needs.
if [ ${#missing[@]} -eq 0 ] && [ $need_wine -eq 0 ]; then
  exit 0
fi

if [ $need_wine -eq 1 ]; then
  $SUDO dpkg --add-architecture i386
  missing+=(wine wine32:i386 wine64)
fi
echo "installing: ${missing[*]}"
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
