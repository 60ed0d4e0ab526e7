#!/bin/bash
# Every module must import only Windows system DLLs, at load or delay-loaded: the C++ runtime, libgcc and
# winpthread are linked in.
# Usage: check-imports.sh BIN_DIR
set -euo pipefail
export ALLOWED='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|version|winmm|psapi|wininet|crypt32|wintrust|rpcrt4|userenv|secur32|netapi32|msimg32|uxtheme|ws2_32|dbghelp|msvcrt|ntdll|bcrypt|api-ms-win-.*)\.dll$'
export DELAY_IMPORTS="$(dirname "$0")/list-delay-imports.py"
# Prints "<module> imports <dll>" for each DLL a module imports that is not the system's.
check_module() {
  local dll
  { x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { print $3 }'; /usr/bin/python3 "$DELAY_IMPORTS" "$1"; } |
    while read -r dll; do
      echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$ALLOWED" || echo "$(basename "$1") imports $dll"
    done
}
export -f check_module
modules=()
for module in "$1"/*.exe "$1"/*.dll; do
  [ -e "$module" ] && modules+=("$module")
done
[ "${#modules[@]}" -gt 0 ] || { echo "no modules in $1"; exit 1; }
# A hundred modules of up to tens of megabytes each: read side by side, one per processor, so that a loaded
# machine's share of every processor goes to the check.
faults=$(printf '%s\0' "${modules[@]}" | xargs -0 -n 1 -P "$(nproc)" bash -c 'check_module "$0"')
[ -z "$faults" ] || { echo "$faults"; exit 1; }
echo "${#modules[@]} modules import only system DLLs"
