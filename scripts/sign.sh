#!/usr/bin/env bash
# Signs the program with an Authenticode signature (SHA-256) through
# osslsigncode, writing a signed copy and leaving the input as it is:
#
#   sign.sh --pkcs12 FILE [--password-file FILE] [--timestamp-url URL]
#           [--time UNIX-TIME] IN.exe OUT.exe
#
#   --pkcs12         the code-signing certificate, its chain and its key
#   --password-file  the PKCS#12 password: the file's content, line ends at
#                    its end dropped. Without it the password is the
#                    environment variable ORV_SIGN_PASSWORD (set and empty
#                    for none).
#   --timestamp-url  an RFC 3161 time-stamp server that countersigns, so that
#                    the signature outlives the certificate
#   --time           the signing time, in seconds since 1970 (default:
#                    SOURCE_DATE_EPOCH when set). The same exe, key and time
#                    then give the same signed bytes; a time-stamp server
#                    adds a time of its own.
#
# The password reaches osslsigncode through a pipe, never as an argument, so
# neither a log nor the process list shows it; tracing (bash -x) is off here
# for the same reason. OSSLSIGNCODE names another osslsigncode to use.
# OUT.exe appears only when signing succeeded; its SHA-256 is printed.
{ set +x; } 2>/dev/null
set -euo pipefail

usage() {
  sed -n '5,6p' "$0" | sed 's/^# *//' >&2
  exit 2
}

pkcs12='' password_file='' timestamp_url='' time=${SOURCE_DATE_EPOCH:-}
while [ $# -gt 0 ]; do
  case $1 in
    --pkcs12) pkcs12=${2:?}; shift 2 ;;
    --password-file) password_file=${2:?}; shift 2 ;;
    --timestamp-url) timestamp_url=${2:?}; shift 2 ;;
    --time) time=${2:?}; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
{ [ $# -eq 2 ] && [ -n "$pkcs12" ]; } || usage
in=$1 out=$2

# Out of the environment, so that osslsigncode's process does not carry it.
password=${ORV_SIGN_PASSWORD-}
have_password=${ORV_SIGN_PASSWORD+yes}
unset ORV_SIGN_PASSWORD
if [ -n "$password_file" ]; then
  password=$(<"$password_file") || exit 2
  password=${password%$'\r'}
elif [ -z "$have_password" ]; then
  echo "sign: no password: give --password-file or set ORV_SIGN_PASSWORD" >&2
  exit 2
fi

options=(-pkcs12 "$pkcs12" -h sha256)
# osslsigncode reads the password from a file, /dev/fd/3 here; it takes an
# empty file for an error, so no password means no file.
[ -z "$password" ] || options+=(-readpass /dev/fd/3)
if [ -n "$time" ]; then
  [[ $time =~ ^[0-9]+$ ]] || { echo "sign: --time takes seconds since 1970, not '$time'" >&2; exit 2; }
  options+=(-time "$time")
fi
[ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")

# Signed beside OUT under another name and then renamed: a failed or
# interrupted signing leaves no OUT that could be taken for a signed program,
# not even one from before.
rm -f "$out"
mkdir -p "$(dirname "$out")"
temp=$(mktemp "$(dirname "$out")/.sign-XXXXXX")
log=$(mktemp)
trap 'rm -f "$temp" "$log"' EXIT
rm -f "$temp"
exec 3< <(printf '%s' "$password")
if ! "${OSSLSIGNCODE:-osslsigncode}" sign "${options[@]}" -in "$in" -out "$temp" >"$log" 2>&1; then
  cat "$log" >&2
  echo "sign: signing $in failed" >&2
  exit 1
fi
exec 3<&-
mv -f "$temp" "$out"
echo "signed $out"
sha256sum "$out"
