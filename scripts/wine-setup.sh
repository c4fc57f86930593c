#!/bin/sh
# Prepares the private, headless Wine prefix that the Windows build's tests run
# in, and prints nothing but errors. Safe to call before every run: once the
# prefix is ready it returns at once.
#
# As root it runs Wine as an unprivileged user (root would see through
# read-only attributes and access rights), created here when missing.
# Otherwise it uses the calling user and a prefix under $HOME (or /tmp).
#
# The settings (ORV_WINE_USER, ORV_WINE_ROOT, orv_wine_env) are wine-env.sh's;
# packages come through install-deps.sh.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/wine-env.sh
. "$here/wine-env.sh"

log() { echo "wine-setup: $*" >&2; }

# Wine and the cross compiler, once per machine (root only).
install_packages() {
  if command -v wine >/dev/null && command -v i686-w64-mingw32-g++-posix >/dev/null; then
    return 0
  fi
  [ "$(id -u)" = 0 ] || { log "wine or MinGW-w64 missing; install them as root"; exit 1; }
  log "installing Wine and MinGW-w64"
  bash "$here/install-deps.sh" g++-mingw-w64-i686 wine wine32:i386 wine64 >/dev/null
}

# Some kernels run without 32-bit emulation (ia32_emulation off): Wine's
# 32-bit loader then fails with "Exec format error". i386 programs then go to
# QEMU's user-mode emulator through binfmt_misc. QEMU before 8.1 tracks guest
# pages one by one and needs about 50 s to start each Wine process (Wine
# reserves most of the 4 GiB address space); 8.1 and later start it in under
# a second, so an older system QEMU is replaced by the backports' one, kept
# in our own folder. The wine64 package brings a native wineserver.
ORV_QEMU=$ORV_WINE_ROOT/qemu/qemu-i386

qemu_is_recent() {
  version=$("$1" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\.\([0-9]*\).*/\1 \2/p')
  [ -n "$version" ] || return 1
  # shellcheck disable=SC2086 # split into major and minor
  set -- $version
  [ "$1" -gt 8 ] || { [ "$1" -eq 8 ] && [ "$2" -ge 1 ]; }
}

fetch_qemu() {
  for candidate in /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do
    if [ -x "$candidate" ] && qemu_is_recent "$candidate"; then
      install -D -m 0755 "$candidate" "$ORV_QEMU"
      return 0
    fi
  done
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  work=$(mktemp -d)
  # The backports suite of the machine's own main Debian mirror.
  mirror=$( (grep -h '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}';
    grep -h '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}') |
    grep -v security | head -n 1)
  echo "deb $mirror $codename-backports main" >"$work/backports.list"
  set -- -o "Dir::Etc::sourcelist=$work/backports.list" -o Dir::Etc::sourceparts=- \
    -o APT::Get::List-Cleanup=0
  if apt-get update -q "$@" >/dev/null 2>&1 &&
    (cd "$work" && apt-get download -q "$@" "qemu-user/$codename-backports" >/dev/null 2>&1) &&
    dpkg-deb -x "$work"/qemu-user_*.deb "$work/root" &&
    qemu_is_recent "$work/root/usr/bin/qemu-i386"; then
    install -D -m 0755 "$work/root/usr/bin/qemu-i386" "$ORV_QEMU"
  else
    log "no QEMU 8.1 or later to be had: every Wine start will take about a minute"
    bash "$here/install-deps.sh" qemu-user-static >/dev/null
    install -D -m 0755 /usr/bin/qemu-i386-static "$ORV_QEMU"
  fi
  rm -rf "$work"
}

# An i386 entry of binfmt_misc that is not ours (say, an old system QEMU).
foreign_i386_entry() {
  for entry in /proc/sys/fs/binfmt_misc/*; do
    case ${entry##*/} in register | status | orv-i386-*) continue ;; esac
    grep -q '^enabled' "$entry" 2>/dev/null &&
      grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" && return 0
  done
  return 1
}

enable_i386() {
  if ! foreign_i386_entry; then
    [ -e /proc/sys/fs/binfmt_misc/orv-i386-2 ] && return 0
    # The kernel runs them itself.
    /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  elif [ -e /proc/sys/fs/binfmt_misc/orv-i386-2 ]; then
    # The newest entry wins: ours goes after the other one again.
    [ "$(id -u)" = 0 ] || return 0
    for kind in 2 3; do
      echo -1 >"/proc/sys/fs/binfmt_misc/orv-i386-$kind" 2>/dev/null || true
    done
  fi
  [ "$(id -u)" = 0 ] || { log "this kernel cannot run 32-bit programs; run as root once"; exit 1; }
  [ -x "$ORV_QEMU" ] || { log "32-bit programs do not run natively: fetching qemu-i386"; fetch_qemu; }
  [ -x /usr/lib/wine/wineserver64 ] ||
    bash "$here/install-deps.sh" wine64 >/dev/null
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  # ELF32, little-endian, i386: executables (type 2) and shared objects
  # (type 3, such as ld-linux.so.2). F opens the emulator now, so it works in
  # every mount namespace; P keeps argv[0].
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  for kind in 2 3; do
    name=orv-i386-$kind
    [ -e "/proc/sys/fs/binfmt_misc/$name" ] && continue
    magic="\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x0${kind}\\x00\\x03\\x00"
    printf '%s' ":$name:M::$magic:$mask:$ORV_QEMU:FP" >/proc/sys/fs/binfmt_misc/register
  done
  /usr/lib/wine/wine --version >/dev/null 2>&1 || {
    log "32-bit programs still do not run"
    exit 1
  }
}

make_user_and_root() {
  if [ "$(id -u)" = 0 ]; then
    id -u "$ORV_WINE_USER" >/dev/null 2>&1 || useradd -m "$ORV_WINE_USER"
    mkdir -p "$ORV_WINE_ROOT"
    chmod 0755 "$ORV_WINE_ROOT"
    mkdir -p "$ORV_WINE_ROOT/run"
    chown "$ORV_WINE_USER:" "$ORV_WINE_ROOT/run"
    chmod 0755 "$ORV_WINE_ROOT/run"
  else
    mkdir -p "$ORV_WINE_ROOT/run"
  fi
}

make_prefix() {
  [ -f "$ORV_WINE_MARKER" ] && [ -f "$ORV_WINE_PREFIX/system.reg" ] && return 0
  log "creating the Wine prefix $ORV_WINE_PREFIX (takes a while once)"
  rm -rf "$ORV_WINE_PREFIX"
  mkdir -p "$ORV_WINE_PREFIX"
  chmod 0700 "$ORV_WINE_PREFIX"
  [ "$(id -u)" = 0 ] && chown "$ORV_WINE_USER:" "$ORV_WINE_PREFIX"
  # Under an emulated loader the first boot outlasts Wine's own five-minute
  # wait for it and wineboot reports failure while the boot goes on: wait for
  # the prefix's processes to end, then judge the prefix by what it holds.
  orv_wine_env wineboot -i >/dev/null 2>&1 || true
  orv_wine_env wineserver -w
  if [ ! -f "$ORV_WINE_PREFIX/system.reg" ] ||
    [ ! -f "$ORV_WINE_PREFIX/drive_c/windows/system32/kernel32.dll" ]; then
    log "wineboot did not complete the prefix"
    exit 1
  fi
  # One import, as every Wine start is slow under emulation:
  # - the null graphics driver: windows without X, so message boxes are real
  #   and block until answered;
  # - no crash dialog: a crash must end the process, not wait for a click;
  # - the relay trace, when a run asks for +relay, covers the message box
  #   calls alone.
  settings=$ORV_WINE_ROOT/run/settings.reg
  cat >"$settings" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="user32.MessageBoxW;user32.MessageBoxExW;user32.MessageBoxIndirectW"
REG
  chmod 0644 "$settings"
  orv_wine_env wine reg import "Z:$(printf '%s' "$settings" | tr / '\\')" >/dev/null 2>&1 || true
  rm -f "$settings"
  orv_wine_env wineserver -w
  if ! grep -q '"Graphics"="null"' "$ORV_WINE_PREFIX/user.reg"; then
    log "could not set the null graphics driver"
    exit 1
  fi
  date -u +%FT%TZ >"$ORV_WINE_MARKER"
}

# Quick path: everything in place.
if [ -f "$ORV_WINE_MARKER" ] && ! foreign_i386_entry && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  exit 0
fi

# One caller sets up; any other waits for it.
mkdir -p "$ORV_WINE_ROOT"
exec 9>"$ORV_WINE_ROOT/setup.lock"
flock 9
install_packages
enable_i386
make_user_and_root
make_prefix
