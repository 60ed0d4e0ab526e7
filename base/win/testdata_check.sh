#!/bin/bash
# Checks from the Linux side, with wine's own reg tool, what the tests of base/win wrote to the registry, and
# removes the oracle key; and with objdump and nm, that every module linked from the areas carries the
# module's own heap allocator and the start-up processor check. Usage: testdata_check.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1; BIN=$2
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=$(cd "$BIN/.." && pwd) . "$ROOT/tools/env.sh"
wine_run() { "$ROOT/tools/wine-run" "$WINDEPS" "$RUN_PREFIX" "$@" </dev/null; }
key='HKCU\Software\ZorviRegistryOracle'
written="$key\\Written by RegKey"
status=0
if [ -e "$D/registry/to_reg.done" ]; then
  # reg query prints "    name    TYPE    data" per value.
  query=$(wine_run reg query "$written" /v ascii | tr -d '\r')
  echo "$query" | grep -qx '    ascii    REG_SZ    a plain value' || { echo "reg query: $query" >&2; status=1; }
  query=$(wine_run reg query "$written" /v number | tr -d '\r')
  echo "$query" | grep -qx '    number    REG_DWORD    0xfedcba98' || { echo "reg query: $query" >&2; status=1; }
  query=$(wine_run reg query "$written" /v bytes | tr -d '\r')
  echo "$query" | grep -qx '    bytes    REG_BINARY    00FF7F80' || { echo "reg query: $query" >&2; status=1; }
  # Non-ASCII text through an exported file (UTF-16), not the console's code page.
  rm -f "$D/registry/export.reg"
  wine_run reg export "$written" "$(echo "Z:$D/registry/export.reg" | tr / '\\')" /y >/dev/null
  python3 - "$D/registry/export.reg" "$D/registry/to_reg.txt" <<'PY' || status=1
import sys
text = open(sys.argv[1], "rb").read().decode("utf-16")
lines = open(sys.argv[2], encoding="utf-8").read().split("\n")
wanted = '"non-ascii"="%s"' % lines[4]
if wanted not in text.splitlines():
    sys.exit("reg export lacks %r:\n%s" % (wanted, text))
print("registry round trip verified with reg query and reg export")
PY
fi
wine_run reg delete "$key" /f >/dev/null 2>&1 || true

# No module imports the C runtime DLL's malloc, calloc, realloc or free, and each defines the check's
# initialiser.
count=0; modules_ok=0
for module in "$BIN"/*.exe "$BIN"/*.dll; do
  name=$(basename "$module")
  [ "$name" = installer.exe ] && continue  # the host executable links none of the areas
  count=$((count + 1))
  imported=$(x86_64-w64-mingw32-objdump -p "$module" |
             awk 'tolower($0) ~ /dll name: msvcrt.dll/ { f = 1; next } /DLL Name:/ { f = 0 } f && NF == 3 { print $3 }' |
             grep -xE 'malloc|calloc|realloc|free' || true)
  if [ -n "$imported" ]; then
    echo "$name imports the C runtime's allocator: $(echo $imported)"; status=1; modules_ok=1
  fi
  if ! x86_64-w64-mingw32-nm "$module" | grep -q ' zorvi_module_sse2_check$'; then
    echo "$name lacks the start-up processor check"; status=1; modules_ok=1
  fi
done
[ "$count" -gt 5 ] || { echo "only $count modules in $BIN"; exit 1; }
[ $modules_ok -eq 0 ] && echo "$count modules allocate through their own allocator and check the processor at load"
exit $status
