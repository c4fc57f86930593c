#!/usr/bin/env bash
# Runs every test: formatting, the native build's tests and its program under
# valgrind's memcheck, the native tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows build's tests under Wine, the PE
# reader's agreement with pefile and a short fuzz run of each fuzz target.
# Installs what is missing first. Ends with one line: "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || { echo "0 passed, 1 failed"; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
failures=()

step() {
  local name=$1
  shift
  local start=$SECONDS
  echo "=== ${name}"
  if "$@"; then
    passed=$((passed + 1))
    echo "=== ${name}: ok ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== ${name}: FAILED ($((SECONDS - start)) s)"
  fi
}

format_check() {
  git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror
}

build_and_test() {
  local preset=$1
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j"$jobs" &&
    ctest --preset "$preset"
  local status=$?
  # The reliability checks' own summary lines, from the test log.
  grep -h -e '^fault sweep:' -e '^crash points:' \
    "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null
  return $status
}

step "format" format_check
step "native" build_and_test native
step "valgrind" bash scripts/valgrind.sh
step "native-asan" build_and_test native-asan
step "win32 under wine" build_and_test win32
step "pe agreement" bash scripts/pe-agreement.sh
step "fuzz (short)" bash scripts/fuzz.sh

if [ ${#failures[@]} -gt 0 ]; then
  echo "failed steps: ${failures[*]}"
fi
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
