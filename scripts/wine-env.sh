#!/usr/bin/env bash
# Sourced by the run and test scripts: a private Wine prefix under the given folder, one persistent
# wineserver for the whole run, and an X display (Xvfb when none is given or when headless is asked).
#   qor_wine_start PREFIX_DIR [headless]   qor_wine_stop
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL="${LC_ALL:-C.UTF-8}"
QOR_XVFB_PID=""

qor_wine_start() {
  export WINEPREFIX="$1"
  local headless="${2:-}"
  if [ -n "$headless" ] || [ -z "${DISPLAY:-}" ]; then
    local n=$(( 90 + RANDOM % 400 ))
    while [ -e "/tmp/.X${n}-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    QOR_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/.qor-ready" ]; then
    echo "Creating the Wine prefix $WINEPREFIX ..."
    mkdir -p "$WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1 || true
    # Without a window manager, managed windows stall the window thread whenever one is hidden.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.qor-ready"
  fi
  # One persistent server for the whole run; its streams must not hold the caller's pipes open.
  wineserver -p </dev/null >/dev/null 2>&1 &
  disown || true
  # Start Wine's own background processes (services, desktop) now, with streams of their own: if the
  # first test program started them, they would inherit its output pipe and keep CTest waiting.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

qor_wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ -n "$QOR_XVFB_PID" ]; then kill "$QOR_XVFB_PID" 2>/dev/null || true; wait "$QOR_XVFB_PID" 2>/dev/null || true; fi
  QOR_XVFB_PID=""
}
