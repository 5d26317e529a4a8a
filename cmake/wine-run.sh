#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix. CTest uses this as the
# cross-compiling emulator. scripts/wine-env.sh sets WINEPREFIX; without it the prefix beside the
# build folder of the program is used.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export LC_ALL="${LC_ALL:-C.UTF-8}"
exec wine "$@"
