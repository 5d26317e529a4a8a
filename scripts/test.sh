#!/usr/bin/env bash
# Installs what is missing, builds the Windows x64 build and runs every test under Wine and Xvfb.
#   ./test            build and run all tests
#   ./test --bench    also run the benchmarks
#   ./test --fuzz [N] also fuzz every reader of untrusted input with N inputs each (default 10000) and
#                     a fresh seed (QOR_FUZZ_SEED=S repeats a run); fails on any broken contract or crash
#   ./test -R regex   pass further arguments to ctest
# QOR_BUILD_DIR picks another build folder (default build/windows). Each test program has two minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bench=""
fuzz=""
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --bench) bench=1 ;;
    --fuzz)
      fuzz=10000
      if [[ "${2:-}" =~ ^[0-9]+$ ]]; then fuzz=$2; shift; fi ;;
    *) args+=("$1") ;;
  esac
  shift
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
if [ -n "$fuzz" ] && [ $status -eq 0 ]; then
  "$root/cmake/wine-run.sh" "$build/bin/fuzz_tests.exe" --fuzz "$fuzz" || status=$?
fi
exit $status
