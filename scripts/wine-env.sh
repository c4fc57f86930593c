# shellcheck shell=sh disable=SC2034
# The Wine settings every script shares, to be sourced (sh or bash): the
# private prefix's user and folders, and orv_wine_env. Sets variables and a
# function only: the caller's shell options (-e, -u, pipefail) stay as they
# are. scripts/wine-setup.sh prepares what these name.
#
#   ORV_WINE_USER  the unprivileged user when run as root (default orvwine)
#   ORV_WINE_ROOT  the folder holding the prefix and run folders

if [ "$(id -u)" = 0 ]; then
  ORV_WINE_USER=${ORV_WINE_USER:-orvwine}
  ORV_WINE_ROOT=${ORV_WINE_ROOT:-/var/tmp/orvanto-wine}
else
  ORV_WINE_USER=$(id -un)
  ORV_WINE_ROOT=${ORV_WINE_ROOT:-${HOME:-/tmp}/.cache/orvanto-wine}
fi
ORV_WINE_PREFIX=$ORV_WINE_ROOT/prefix
ORV_WINE_MARKER=$ORV_WINE_ROOT/prefix-ready

# Runs a command as the Wine user with exactly the environment every Wine call
# gets: DISPLAY and TZ are left out (msvcrt misreads a Linux TZ), the
# graphics driver is the null one set in the prefix.
orv_wine_env() {
  orv_home=$(getent passwd "$ORV_WINE_USER" | cut -d: -f6)
  set -- env -i \
    "HOME=${orv_home:-/tmp}" "USER=$ORV_WINE_USER" "LOGNAME=$ORV_WINE_USER" \
    "PATH=/usr/local/bin:/usr/bin:/bin" \
    "WINEPREFIX=$ORV_WINE_PREFIX" WINEARCH=win32 "WINEDEBUG=${ORV_WINEDEBUG:--all}" \
    "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d" LANG=C.UTF-8 "$@"
  # Descriptors 8 and 9 hold the scripts' locks; the Wine server and the
  # services outlive a run and must not keep them.
  if [ "$(id -u)" = 0 ]; then
    runuser -u "$ORV_WINE_USER" -- "$@" 8>&- 9>&-
  else
    "$@" 8>&- 9>&-
  fi
}
