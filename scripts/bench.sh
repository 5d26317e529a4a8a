#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine and prints their figures. ./test --bench calls it with the
# build folder once the tests have passed; it can also be run on its own:
#   scripts/bench.sh [build-folder]     (default build/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${QOR_BUILD_DIR:-$root/build/windows}}")  # winepath needs it absolute
[ -f "$build/CMakeCache.txt" ] || cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target bench_payload bench_startup bench_procedure bench_size_reference bench_streams bench_filelists QuorvexSetup QuorvexSetupWine \
  sibling_proxy sibling_real

# The shipped setup without the payload it carries, against a bare static program built the same way.
echo "== size of the setup program without its payload (bench/size) =="
reference=$(stat -c %s "$build/bench/bench_size_reference.exe")
printf '%-22s %10s %10s %16s %9s\n' program "file KB" "payload KB" "without payload" "ratio"
for pair in QuorvexSetup:QuorvexPayload-i686 QuorvexSetupWine:QuorvexPayload-x86_64; do
  exe="$build/bin/${pair%%:*}.exe"
  payload="$build/payload/${pair#*:}.bin"
  file_bytes=$(stat -c %s "$exe")
  payload_bytes=$(stat -c %s "$payload")
  awk -v n="${pair%%:*}.exe" -v f="$file_bytes" -v p="$payload_bytes" -v r="$reference" 'BEGIN {
    printf "%-22s %10.1f %10.1f %13.1f KB %8.2fx\n", n, f / 1024, p / 1024, (f - p) / 1024, (f - p) / r }'
done
awk -v r="$reference" 'BEGIN { printf "%-22s %10.1f %10s %13.1f KB %8.2fx   (target: at most 300 KB without payload)\n",
  "bare C++20 reference", r / 1024, "-", r / 1024, 1 }'

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

echo "== install procedure against writing the same files and one host server start (bench/procedure) =="
(cd "$build/bench" && wine bench_procedure.exe "${QOR_BENCH_REPEATS:-5}")

echo "== stream adapter against plain file reads and writes (bench/streams) =="
(cd "$build/bench" && wine bench_streams.exe "${QOR_BENCH_REPEATS:-3}")

echo "== file list walks (bench/filelists) =="
(cd "$build/bench" && wine bench_filelists.exe "${QOR_BENCH_REPEATS:-3}")
