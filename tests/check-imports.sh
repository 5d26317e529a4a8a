#!/usr/bin/env bash
# Every shipped and test program must import Windows system DLLs only (static linking).
set -u
bin="$1"
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|uxtheme|version|msvcrt|psapi|uuid|ntdll|rpcrt4|msimg32|dwmapi|winmm|imm32|ws2_32|userenv|bcrypt|crypt32|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
count=0
for f in "$bin"/*.exe; do
  [ -e "$f" ] || continue
  count=$((count + 1))
  while read -r dll; do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    if ! [[ "$lower" =~ $allowed ]]; then
      echo "$(basename "$f") imports $dll, which is not a Windows system DLL"
      status=1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p')
done
echo "checked $count programs"
[ "$count" -gt 0 ] || status=1
exit $status
