#!/usr/bin/env bash
# Installs what is missing, builds the Windows x64 build and runs every test under Wine and Xvfb.
#   ./test            build and run all tests
#   ./test --bench    also run the benchmarks
#   ./test -R regex   pass further arguments to ctest
# QOR_BUILD_DIR picks another build folder (default build/windows). Each test program has two minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bench=""
args=()
for a in "$@"; do
  if [ "$a" = "--bench" ]; then bench=1; else args+=("$a"); fi
done

"$root/scripts/bootstrap.sh"
build="${QOR_BUILD_DIR:-$root/build/windows}"
cmake --preset windows -B "$build" >/dev/null
# QOR_TARGETS="a b" builds only those targets (for working on one subsystem).
if [ -n "${QOR_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build" --target $QOR_TARGETS
else
  cmake --build "$build"
fi

. "$root/scripts/wine-env.sh"
qor_wine_start "$build/wineprefix" headless
trap qor_wine_stop EXIT
status=0
(cd "$build" && ctest --output-on-failure --timeout 120 "${args[@]}") || status=$?
if [ -n "$bench" ] && [ $status -eq 0 ]; then
  "$root/scripts/bench.sh" "$build" || status=$?
fi
exit $status
