#!/usr/bin/env bash
# install-deps.sh against a stub apt-get (and dpkg-query, sudo) on PATH: a
# registry whose index is inconsistent for one try, for every try, with the
# install then going through or not. Nothing is installed or fetched.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT

index=http://deb.example.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz
# apt-get: "update" fails while $stubs/failures holds a count above zero
# (apt's words for an inconsistent index), "install" as STUB_INSTALL says.
cat >"$stubs/apt-get" <<STUB
#!/bin/sh
echo "\$1" >>"$stubs/calls"
case \$1 in
  update)
    left=\$(cat "$stubs/failures")
    [ "\$left" -gt 0 ] || { echo "Reading package lists..."; exit 0; }
    echo \$((left - 1)) >"$stubs/failures"
    echo "Err:5 http://deb.example.org/debian-security bookworm-security/main i386 Packages"
    echo "E: Failed to fetch $index  File has unexpected size (123 != 456). Mirror sync in progress? [IP: 192.0.2.1 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  install) [ "\$STUB_INSTALL" = pass ] || { echo "E: Unable to correct problems, you have held broken packages."; exit 100; } ;;
esac
STUB
printf '#!/bin/sh\nexit 1\n' >"$stubs/dpkg-query"          # nothing is installed
printf '#!/bin/sh\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/*

passed=0 failed=0
#     name                          failures install exit updates says
cases=(
  "update fails once, then passes|1|pass|0|2|"
  "update always fails, install passes|9|pass|0|3|going on with the package lists there are"
  "update always fails, install fails|9|fail|1|3|could not read $index (File has unexpected size (123 != 456). Mirror sync in progress?"
  "update passes, install fails|0|fail|1|1|"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name failures install want updates says <<<"$row"
  echo "$failures" >"$stubs/failures"
  : >"$stubs/calls"
  status=0
  out=$(PATH="$stubs:$PATH" STUB_INSTALL=$install ORV_APT_RETRY_PAUSE=0 \
    bash "$here/../install-deps.sh" orv-stub-package 2>&1) || status=$?
  problems=
  [ "$status" = "$want" ] || problems+="exit $status, expected $want; "
  tried=$(grep -c '^update$' "$stubs/calls")
  [ "$tried" = "$updates" ] || problems+="$tried updates, expected $updates; "
  grep -qx install "$stubs/calls" || problems+="no install was tried; "
  [ -z "$says" ] || grep -qF -- "$says" <<<"$out" || problems+="the output lacks '$says'; "
  # The paragraph comes only when a failed update may be why the install failed.
  paragraph=0
  grep -q 'did not match the signed Release file' <<<"$out" && paragraph=1
  [ "$paragraph" = $((want == 1 && updates == 3)) ] || problems+="the paragraph shown: $paragraph; "
  if [ -z "$problems" ]; then
    passed=$((passed + 1)) && echo "PASS $name"
  else
    failed=$((failed + 1)) && printf 'FAIL %s: %s\n%s\n' "$name" "$problems" "$out"
  fi
done

# With nothing missing, apt is not asked at all.
printf '#!/bin/sh\necho "install ok installed"\n' >"$stubs/dpkg-query"
: >"$stubs/calls"
if PATH="$stubs:$PATH" bash "$here/../install-deps.sh" orv-stub-package && [ ! -s "$stubs/calls" ]; then
  passed=$((passed + 1)) && echo "PASS nothing missing"
else
  failed=$((failed + 1)) && echo "FAIL nothing missing: apt-get was called: $(tr '\n' ' ' <"$stubs/calls")"
fi

echo "install-deps: $passed passed, $failed failed"
[ "$failed" = 0 ]
