#!/usr/bin/env bash
# Builds the setup and opens it on a demo Total Commander installation in a Wine prefix of its own.
# With a display the window is interactive; without one (or with --headless) it runs under Xvfb, saves
# a screenshot, prints its path and exits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
headless=""
[ "${1:-}" = "--headless" ] && headless=1
[ -z "${DISPLAY:-}" ] && headless=1

"$root/scripts/bootstrap.sh"
build="${QOR_BUILD_DIR:-$root/build/windows}"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target QuorvexSetupWine TotalCommanderDouble sibling_proxy sibling_real qor_setup_driver
bin="$build/bin"
setup_exe="$bin/QuorvexSetupWine.exe"

. "$root/scripts/wine-env.sh"
qor_wine_start "$build/demo-prefix" $headless
trap qor_wine_stop EXIT

# The demo installation: Total Commander in C:\TotalCmd64, its wincmd.ini in %APPDATA%\GHISLER.
drive_c="$WINEPREFIX/drive_c"
tc="$drive_c/TotalCmd64"
rm -rf "$tc"
mkdir -p "$tc/Plugins/wcx/zip" "$tc/Plugins/wcx/rar" "$tc/Plugins/wcx/sevenzip" "$tc/Plugins/wcx/cab"
cp "$bin/TOTALCMD64.exe" "$tc/TOTALCMD64.EXE"
cp "$setup_exe" "$drive_c/QuorvexSetup.exe"
for p in zip/zip rar/rar sevenzip/7zip cab/cab; do printf 'MZ 32-bit packer plugin stand-in' > "$tc/Plugins/wcx/$p.wcx"; done
cp "$bin/sibling_real.wcx64" "$tc/Plugins/wcx/sevenzip/7zip.wcx64"   # a real 64-bit build: not listed
cp "$bin/sibling_proxy.wcx64" "$tc/Plugins/wcx/cab/cab.wcx64"        # an earlier proxy copy: listed
appdata_win=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
appdata=$(winepath -u "$appdata_win" 2>/dev/null)
mkdir -p "$appdata/GHISLER"
printf '%s\r\n' \
  '[Configuration]' 'UseIniInProgramDir=0' \
  '[PackerPlugins]' \
  'zip=C:\TotalCmd64\Plugins\wcx\zip\zip.wcx' \
  'rar=287,%COMMANDER_PATH%\Plugins\wcx\rar\rar.wcx' \
  '7z=287,C:\TotalCmd64\Plugins\wcx\sevenzip\7zip.wcx' \
  'cab=C:\TotalCmd64\Plugins\wcx\cab\cab.wcx' \
  'arj=31,C:\TotalCmd64\Plugins\wcx\arj\arj.wcx' \
  '[PackerPlugins64]' '$checksum$=1' > "$appdata/GHISLER/wincmd.ini"
wine reg add 'HKCU\Software\Ghisler\Total Commander' /v InstallDir /t REG_SZ /d 'C:\TotalCmd64' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Ghisler\Total Commander' /v IniFileName /t REG_EXPAND_SZ \
  /d '%APPDATA%\GHISLER\wincmd.ini' /f >/dev/null 2>&1

echo "Demo Total Commander: C:\\TotalCmd64 (wincmd.ini in $appdata_win\\GHISLER)"
# Started as Total Commander's child, as a user starting it from Total Commander would.
wine 'C:\TotalCmd64\TOTALCMD64.EXE' --run '"C:\QuorvexSetup.exe"' </dev/null >/dev/null 2>&1 &
runner=$!
if [ -z "$headless" ]; then
  wait "$runner" || true
  exit 0
fi
for _ in $(seq 150); do
  xdotool search --name '^Quorvex setup$' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 1.5
shot="$build/demo-screenshot.png"
import -display "$DISPLAY" -window root "$shot"
echo "Screenshot: $shot"

# Headless, the demo goes on as a user would: "Install for current user only", then the message.
driver="$bin/qor_setup_driver.exe"
marker="$build/demo-before-install"
touch "$marker"
before=$(cd "$tc" && find . -name '*.wcx64' | sort)
sleep 1
wine "$driver" click "Install for current user only" </dev/null
if ! wine "$driver" wait-box 120000 </dev/null | tr -d '\r'; then
  echo "The setup showed no message after the click." >&2
  exit 1
fi
sleep 0.5
box_shot="$build/demo-install-message.png"
import -display "$DISPLAY" -window root "$box_shot"
echo "Screenshot of the message: $box_shot"
wine "$driver" answer-box </dev/null || true

echo "What the install changed:"
win_path() { local p=${1#"$drive_c"/}; printf 'C:\\%s' "${p//\//\\}"; }
find "$tc" -type f -newer "$marker" | sort | while read -r f; do echo "  written: $(win_path "$f")"; done
after=$(cd "$tc" && find . -name '*.wcx64' | sort)
comm -23 <(echo "$before") <(echo "$after") | while read -r f; do
  [ -n "$f" ] && echo "  deleted: $(win_path "$tc/${f#./}")"
done
echo "  registration (current user):"
wine reg query 'HKCU\Software\Classes\CLSID\{5C2A7E14-9B3D-4F61-A8E0-3D7C51B2F946}' /s </dev/null 2>/dev/null \
  | tr -d '\r' | sed '/^$/d; s/^/    /' || echo "    (none)"
echo "  wincmd.ini, section PackerPlugins64:"
sed -n '/^\[PackerPlugins64\]/,/^\[/p' "$appdata/GHISLER/wincmd.ini" | tr -d '\r' | grep -v '^\[' | sed 's/^/    /'
wine "$driver" close </dev/null || true
wait "$runner" || true
