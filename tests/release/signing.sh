#!/usr/bin/env bash
# Signs the program through scripts/sign.sh with a certificate authority and
# a code-signing certificate made here, for this run only, and checks:
#   - osslsigncode verify against that authority passes: SHA-256, the time
#     given;
#   - signing changed nothing but the signature: osslsigncode
#     remove-signature gives back the very program;
#   - the password from the environment and the time from SOURCE_DATE_EPOCH
#     give the same bytes as the password file and --time, and the password
#     is in no argument, environment or output of osslsigncode;
#   - a copy with one byte of a payload file changed fails verification;
#   - a wrong password, or a time-stamp server that cannot be reached, fails
#     and leaves no signed file, not even an earlier one.
# Leaves the signed program as SIGNED for the tests that run it.
#
#   signing.sh PROGRAM.exe PAYLOAD-FILE SIGNED
#
# OSSLSIGNCODE names another osslsigncode. Prints one line per check and
# "release signing: N passed, M failed".
set -uo pipefail
[ $# -eq 3 ] || { echo "usage: signing.sh PROGRAM.exe PAYLOAD-FILE SIGNED" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
sign=$here/../../scripts/sign.sh
program=$1 payload=$2 signed=$3
real=$(command -v "${OSSLSIGNCODE:-osslsigncode}") || { echo "no osslsigncode" >&2; exit 2; }
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
rm -f "$signed"
mkdir -p "$(dirname "$signed")"

passed=0 failed=0
report() { # NAME PROBLEMS
  if [ -z "$2" ]; then
    passed=$((passed + 1))
    echo "PASS $1"
  else
    failed=$((failed + 1))
    echo "FAIL $1: $2"
  fi
}

# The authority and the signer, the way a company's own would be.
# shellcheck disable=SC2016 # a dollar sign, meant literally
password='s3cret "with" $pace and quotes'
printf '%s\n' "$password" >"$work/password"
(
  cd "$work" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throw-away test CA" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
      -keyout ca.key -out ca.pem &&
    openssl req -newkey rsa:2048 -nodes -subj "/CN=Throw-away code signer" \
      -keyout signer.key -out signer.csr &&
    printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
      "extendedKeyUsage=codeSigning" >signer.ext &&
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
      -extfile signer.ext -out signer.pem &&
    openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem \
      -passout file:password -out signer.p12
) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log" >&2; exit 2; }
verify() { "$real" verify -CAfile "$work/ca.pem" "$1" >"$work/verify.log" 2>&1; }

# Signing with a password file and a fixed time.
time=1700000000
problems=
bash "$sign" --pkcs12 "$work/signer.p12" --password-file "$work/password" --time "$time" \
  "$program" "$signed" >"$work/sign.log" 2>&1 || problems+="sign.sh failed: $(tail -n 3 "$work/sign.log"); "
if [ -f "$signed" ]; then
  verify "$signed" || problems+="verify failed: $(tail -n 3 "$work/verify.log"); "
  grep -q "Signing time: $(date -u -d "@$time" '+%b %e %H:%M:%S %Y')" "$work/verify.log" ||
    problems+="the signing time is not the one given; "
  grep -Eq "^Message digest algorithm *: SHA256" "$work/verify.log" || problems+="not SHA-256; "
fi
report "signed and verified against the throw-away authority" "$problems"
[ -f "$signed" ] || { echo "release signing: $passed passed, $((failed + 1)) failed (nothing signed)"; exit 1; }

# Taking the signature away (the certificate table at the end, its header
# entry, the checksum) gives back the program byte for byte, as the README
# tells whoever checks a release.
problems=
"$real" remove-signature -in "$signed" -out "$work/unsigned.exe" >/dev/null 2>&1 &&
  cmp -s "$program" "$work/unsigned.exe" || problems="without its signature it is not the program"
report "signing changed nothing but the signature" "$problems"

# The same again through an osslsigncode that records what it was given.
mkdir "$work/bin"
printf '#!/bin/sh\n{ printf "%%s\\n" "$*"; env; } >>"%s"\nexec "%s" "$@"\n' \
  "$work/seen" "$real" >"$work/bin/osslsigncode"
chmod +x "$work/bin/osslsigncode"
problems=
ORV_SIGN_PASSWORD=$password SOURCE_DATE_EPOCH=$time OSSLSIGNCODE=$work/bin/osslsigncode \
  bash "$sign" --pkcs12 "$work/signer.p12" "$program" "$work/again.exe" >>"$work/seen" 2>&1 ||
  problems+="sign.sh failed: $(tail -n 3 "$work/seen"); "
cmp -s "$signed" "$work/again.exe" || problems+="the two signatures differ; "
grep -qF -- "$password" "$work/seen" && problems+="the password showed in osslsigncode's arguments, environment or the output; "
[ -s "$work/seen" ] || problems+="osslsigncode was not called; "
report "same time, same bytes; the password never in arguments, environment or output" "$problems"

# One bit changed in the middle of where the payload file lies in the program.
problems=
/usr/bin/python3 - "$signed" "$payload" "$work/tampered.exe" <<'PY' || problems+="payload not found; "
import sys
program = bytearray(open(sys.argv[1], "rb").read())
payload = open(sys.argv[2], "rb").read()
at = program.find(payload)
if at < 0 or len(payload) < 2:
    sys.exit(1)
program[at + len(payload) // 2] ^= 1
open(sys.argv[3], "wb").write(program)
PY
[ -f "$work/tampered.exe" ] && verify "$work/tampered.exe" && problems+="verification passed; "
report "one byte changed in the payload fails verification" "$problems"

# refused NAME EXPECTED-OUTPUT SIGN-OPTIONS...: signing fails, saying so,
# and leaves no program behind, not even the one signed before.
refused() {
  local name=$1 expected=$2 problems=
  shift 2
  cp "$signed" "$work/refused.exe"
  if bash "$sign" --pkcs12 "$work/signer.p12" "$@" "$program" "$work/refused.exe" >"$work/refused.log" 2>&1; then
    problems+="sign.sh succeeded; "
  fi
  grep -q -- "$expected" "$work/refused.log" || problems+="no '$expected' in: $(tail -n 2 "$work/refused.log"); "
  [ -z "$(find "$work" -maxdepth 1 \( -name refused.exe -o -name '.sign-*' \))" ] ||
    problems+="a file was left behind; "
  report "$name" "$problems"
}
printf 'wrong\n' >"$work/wrong"
refused "a wrong password is refused" "Wrong password" --password-file "$work/wrong"
# Port 9 (discard) on this machine: nothing listens there.
refused "an unreachable time-stamp server is refused" "timestamping failed" \
  --password-file "$work/password" --timestamp-url http://127.0.0.1:9/

echo "release signing: $passed passed, $failed failed"
[ "$failed" = 0 ]
