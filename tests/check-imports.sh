#!/usr/bin/env bash
# Every shipped and test program must import Windows system DLLs only (static linking): the programs
# and libraries in bin, and the payload programs (both host servers and the proxy plugin).
#   check-imports.sh <build folder>
set -u
build="$1"
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|uxtheme|version|msvcrt|psapi|uuid|ntdll|rpcrt4|msimg32|dwmapi|winmm|imm32|ws2_32|userenv|bcrypt|crypt32|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
count=0
shopt -s nullglob
files=("$build"/bin/*.exe "$build"/bin/*.dll "$build"/bin/*.wcx64 "$build"/payload/*/*.exe "$build"/payload/*/*.wcx64)
for f in "${files[@]}"; do
  count=$((count + 1))
  # objdump of the x86_64 toolchain reads 32-bit programs too.
  if ! dlls=$(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'); then
    echo "${f#"$build"/} cannot be read"
    status=1
    continue
  fi
  while read -r dll; do
    [ -n "$dll" ] || continue
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    if ! [[ "$lower" =~ $allowed ]]; then
      echo "${f#"$build"/} imports $dll, which is not a Windows system DLL"
      status=1
    fi
  done <<<"$dlls"
done
for required in bin/QuorvexSetup.exe bin/QuorvexSetupWine.exe payload/i686/Quorvex.exe payload/x86_64/Quorvex.exe \
                payload/x86_64/QuorvexWCX.wcx64; do
  [ -e "$build/$required" ] || { echo "$required was not built"; status=1; }
done
echo "checked $count files"
[ "$count" -gt 0 ] || status=1
exit $status
