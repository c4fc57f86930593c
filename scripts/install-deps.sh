#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine:
# compilers and CMake, GoogleTest sources, MinGW-w64 (i686), Wine with 32-bit
# support, clang's fuzzer runtime, python3-pefile. Safe to run again: it
# installs only what is missing.
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
have i686-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
/usr/bin/python3 -c 'import pefile' >/dev/null 2>&1 || missing+=(python3-pefile)
need_wine=0
{ have wine && pkg_installed wine32:i386; } || need_wine=1

# Wine's 32-bit loader is an i386 program. Where the kernel will not run
# those, qemu-user (registered through binfmt_misc) runs them instead.
i386_runs() { [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; }
ensure_i386() {
  i386_runs && return 0
  pkg_installed qemu-user-static || $SUDO apt-get install -y -q --no-install-recommends qemu-user-static
  if ! i386_runs && [ -w /proc/sys/fs/binfmt_misc/register ]; then
    if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
      echo 1 >/proc/sys/fs/binfmt_misc/qemu-i386
    else
      systemd-binfmt /usr/lib/binfmt.d/qemu-i386.conf 2>/dev/null ||
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:PF' >/proc/sys/fs/binfmt_misc/register
    fi
  fi
  i386_runs || { echo "install-deps: Wine's 32-bit loader cannot run on this machine" >&2; return 1; }
}

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -eq 0 ] && [ $need_wine -eq 0 ]; then
  ensure_i386
  exit $?
fi

if [ $need_wine -eq 1 ]; then
  $SUDO dpkg --add-architecture i386
  missing+=(wine wine32:i386)
fi
echo "installing: ${missing[*]}"
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
ensure_i386
