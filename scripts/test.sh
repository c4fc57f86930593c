#!/usr/bin/env bash
# Runs every test: configures, builds and tests each preset in turn.
#   native       unit, integration, fault and crash tests; the format check,
#                the program under valgrind's memcheck, the PE reader
#                against pefile
#   native-asan  the same tests under AddressSanitizer and
#                UndefinedBehaviorSanitizer
#   win32        the Windows build's tests and the end-to-end suites, under Wine
#   fuzz         each libFuzzer target for 30 s
# Installs what is missing first. Ends with one line, "N passed, M failed",
# counting tests; a preset that does not configure or build counts as one
# failure.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

bash scripts/install-deps.sh || { echo "0 passed, 1 failed"; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
failures=()

for preset in native native-asan win32 fuzz; do
  start=$SECONDS
  echo "=== ${preset}"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$jobs"; }; then
    failed=$((failed + 1))
    failures+=("${preset} (build)")
    echo "=== ${preset}: build FAILED ($((SECONDS - start)) s)"
    continue
  fi
  out=build/$preset/ctest-output.txt
  ctest --preset "$preset" 2>&1 | tee "$out"
  # "100% tests passed, 0 tests failed out of 31"
  read -r bad total < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' "$out")
  if [ -z "${total:-}" ] || [ "$total" = 0 ]; then
    bad=1 total=1
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" = 0 ] || failures+=("${preset} (${bad} of ${total})")
  # The summary lines of the reliability checks, memcheck and fuzz runs.
  grep -h -e '^fault sweep' -e '^crash points:' -e '^valgrind ' -e '^fuzz [a-z_]*: ' \
    "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null
  echo "=== ${preset}: ${bad} of ${total} failed ($((SECONDS - start)) s)"
  unset bad total
done

if [ ${#failures[@]} -gt 0 ]; then
  echo "failed: ${failures[*]}"
fi
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
