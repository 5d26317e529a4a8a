#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-x86-64
          binutils-mingw-w64-i686 libz-mingw-w64-dev wine wine64 xvfb xauth imagemagick xdotool
          fonts-wqy-microhei googletest g++ zlib1g-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
