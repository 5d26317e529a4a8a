#!/usr/bin/env bash
# Sourced by the run and test scripts: a private Wine prefix under the given folder, one persistent
# wineserver for the whole run, and an X display (Xvfb when none is given or when headless is asked).
#   qor_wine_start PREFIX_DIR [headless]   qor_wine_stop
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL="${LC_ALL:-C.UTF-8}"
QOR_XVFB_PID=""

# Dialog fonts with a CJK font linked behind them, so that Japanese texts are drawn as a Japanese user
# sees them instead of as boxes (Wine's dialog fonts have no CJK glyphs and no fallback of their own).
QOR_CJK_FONT_LINK='wqy-microhei.ttc,WenQuanYi Micro Hei'
QOR_LINKED_FONTS=("MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Microsoft Sans Serif" "Segoe UI" "Arial")

# Creates (or brings up to date) the prefix; it is marked ready only when every step succeeded.
qor_wine_prepare_prefix() {
  mkdir -p "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1 || { echo "wineboot failed for $WINEPREFIX" >&2; return 1; }
  # Without a window manager, managed windows stall the window thread whenever one is hidden.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 ||
    { echo "cannot configure $WINEPREFIX" >&2; return 1; }
  local font
  for font in "${QOR_LINKED_FONTS[@]}"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$font" \
      /t REG_MULTI_SZ /d "$QOR_CJK_FONT_LINK" /f </dev/null >/dev/null 2>&1 ||
      { echo "cannot link fonts in $WINEPREFIX" >&2; return 1; }
  done
  wineserver -w </dev/null >/dev/null 2>&1 || true
  touch "$WINEPREFIX/$QOR_PREFIX_MARK"
}
# Bumped whenever qor_wine_prepare_prefix changes, so that existing prefixes are brought up to date.
QOR_PREFIX_MARK=.qor-ready-2

qor_wine_start() {
  export WINEPREFIX="$1"
  local headless="${2:-}"
  if [ -n "$headless" ] || [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display itself and writes its number once it accepts connections.
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$number_file" </dev/null >/dev/null 2>&1 &
    QOR_XVFB_PID=$!
    local n=""
    for _ in $(seq 200); do
      n=$(tr -dc '0-9' <"$number_file")
      [ -n "$n" ] && break
      kill -0 "$QOR_XVFB_PID" 2>/dev/null || break
      sleep 0.05
    done
    rm -f "$number_file"
    if [ -z "$n" ]; then echo "Xvfb did not start" >&2; return 1; fi
    export DISPLAY=":$n"
  fi
  if [ ! -f "$WINEPREFIX/$QOR_PREFIX_MARK" ]; then
    echo "Preparing the Wine prefix $WINEPREFIX ..."
    qor_wine_prepare_prefix || return 1
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
