#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine and prints their figures. ./test --bench calls it with the
# build folder once the tests have passed; it can also be run on its own:
#   scripts/bench.sh [build-folder]     (default build/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-${QOR_BUILD_DIR:-$root/build/windows}}"
[ -f "$build/CMakeCache.txt" ] || cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target bench_payload bench_startup QuorvexSetupWine sibling_proxy sibling_real

. "$root/scripts/wine-env.sh"
if [ -z "${WINEPREFIX:-}" ]; then
  qor_wine_start "$build/wineprefix" headless
  trap qor_wine_stop EXIT
fi

echo "== payload walk (bench/payload) =="
(cd "$build/bench" && wine bench_payload.exe "${QOR_BENCH_REPEATS:-7}")

echo "== time to a ready main window (bench/startup) =="
(cd "$build/bench" && wine bench_startup.exe "$(winepath -w "$build/bin/QuorvexSetupWine.exe")" \
  "$(winepath -w "$build/bin/sibling_proxy.wcx64")" "$(winepath -w "$build/bin/sibling_real.wcx64")" \
  "${QOR_BENCH_REPEATS:-5}")
