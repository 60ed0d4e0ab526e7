#!/bin/bash
# Every module must import only Windows system DLLs, at load or delay-loaded: the C++ runtime, libgcc and
# winpthread are linked in.
# Usage: check-imports.sh BIN_DIR
set -euo pipefail
allowed='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|version|winmm|psapi|wininet|crypt32|wintrust|rpcrt4|userenv|secur32|netapi32|msimg32|uxtheme|ws2_32|dbghelp|msvcrt|ntdll|bcrypt|api-ms-win-.*)\.dll$'
status=0; count=0
for module in "$1"/*.exe "$1"/*.dll; do
  [ -e "$module" ] || continue
  count=$((count + 1))
  while read -r dll; do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "$(basename "$module") imports $dll"; status=1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$module" | awk '/DLL Name:/ { print $3 }'
           /usr/bin/python3 "$(dirname "$0")/list-delay-imports.py" "$module")
done
[ "$count" -gt 0 ] || { echo "no modules in $1"; exit 1; }
echo "$count modules import only system DLLs"
exit $status
