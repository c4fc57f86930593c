#!/usr/bin/env bash
# scripts/wine-env.sh sourced by sh and by bash under each set of options
# the project's scripts run with: the options as they were, the settings and
# orv_wine_env there, nothing printed.
set -uo pipefail
env_sh=$(cd "$(dirname "$0")/.." && pwd)/wine-env.sh
passed=0 failed=0
#     shell  options
cases=(
  "sh|"
  "sh|-e"
  "sh|-eu"
  "bash|"
  "bash|-e"
  "bash|-eu -o pipefail"
  "bash|-o posix -u"
)
for row in "${cases[@]}"; do
  IFS='|' read -r shell options <<<"$row"
  # shellcheck disable=SC2016 # expanded by the shell under test
  out=$(ORV_WINE_ROOT=/nonexistent/orv "$shell" -c '
    set '"${options:-+e}"'
    before=$(set +o)
    . "$1"
    after=$(set +o)
    [ "$before" = "$after" ] || printf "options changed from\n%s\nto\n%s\n" "$before" "$after"
    [ "$ORV_WINE_PREFIX" = /nonexistent/orv/prefix ] || echo "prefix $ORV_WINE_PREFIX"
    [ "$ORV_WINE_MARKER" = /nonexistent/orv/prefix-ready ] || echo "marker $ORV_WINE_MARKER"
    [ -n "$ORV_WINE_USER" ] || echo "no user"
    command -v orv_wine_env >/dev/null || echo "no orv_wine_env"
    echo end' sh "$env_sh" 2>&1)
  if [ "$out" = end ]; then
    passed=$((passed + 1)) && echo "PASS $shell ${options:-(no options)}"
  else
    failed=$((failed + 1)) && printf 'FAIL %s %s:\n%s\n' "$shell" "${options:-(no options)}" "$out"
  fi
done
echo "wine-env: $passed passed, $failed failed"
[ "$failed" = 0 ]
